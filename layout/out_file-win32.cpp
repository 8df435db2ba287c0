#include "layout/out_file.h"

#include <cstdio>
#include <string>

bool write_output_file(const char16_t* path, const std::string& bytes)
{
    std::wstring name;
    for (const char16_t* p = path; *p; ++p)
        name += (wchar_t)*p;

    std::FILE* file = _wfopen(name.c_str(), L"wb");
    if (!file)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0)
        ok = false;
    if (!ok)
        _wremove(name.c_str());
    return ok;
}
