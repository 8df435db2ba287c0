#include "layout/svg_layout.h"

#include <cstdio>
#include <vector>

#include "layout/fit_text.h"
#include "layout/human_form.h"
#include "layout/xml_text.h"

namespace {

const int quarter = 16;  // pixels per quarter key width: a plain key is 64 x 64
const int margin = 28;
const int gap = 2;  // between a key's cell and its drawn cap
const int width = 2 * margin + keyboard_width_q * quarter;

// Generic monospace fonts advance 0.6 em per character, which lets lines be
// fitted to a key without knowing the font. Sans-serif is only estimated, with
// room to spare, for the short key labels.
const double mono_advance = 0.6;
const double bold_sans_advance = 0.66;

const int out_font = 11;
const int out_line = 12;
const int legend_font = 12;
const int legend_line = 17;

const char passes_text[] = "passes through";

struct look_colours {
    const char* fill;
    const char* stroke;
};

const look_colours plain_colours = {"#f4f4f4", "#8c8c8c"};
const look_colours unnamed_colours = {"#dedede", "#8c8c8c"};
const look_colours mapped_colours = {"#cfe2ff", "#2f62a8"};
const look_colours passes_colours = {"#ffd8cc", "#c0392b"};
const char mapped_ink[] = "#0b2e5c";
const char passes_ink[] = "#9b1c1c";
const char badge_fill[] = "#b35900";

void add_number(std::string& svg, double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    svg += buf;
}

void add_text(std::string& svg, double x, double y, const char* attrs, const std::string& content) {
    svg += "<text x=\"";
    add_number(svg, x);
    svg += "\" y=\"";
    add_number(svg, y);
    svg += "\" ";
    svg += attrs;
    svg += ">";
    append_xml_text(content, svg);
    svg += "</text>\n";
}

void add_rect(std::string& svg, double x, double y, double w, double h, double r, const char* fill,
              const char* stroke) {
    svg += "<rect x=\"";
    add_number(svg, x);
    svg += "\" y=\"";
    add_number(svg, y);
    svg += "\" width=\"";
    add_number(svg, w);
    svg += "\" height=\"";
    add_number(svg, h);
    svg += "\" rx=\"";
    add_number(svg, r);
    svg += "\" fill=\"";
    svg += fill;
    if (stroke) {
        svg += "\" stroke=\"";
        svg += stroke;
        svg += "\" stroke-width=\"1.2";
    }
    svg += "\"/>\n";
}

std::string code_text(uint16_t code) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%04x", (unsigned)code);
    return buf;
}

// Lines of monospace text of the given size, starting at baseline y; returns
// the baseline after the last line.
double add_lines(std::string& svg, double x, double y, int font, int step, const std::string& attrs,
                 const std::vector<std::string>& lines) {
    std::string all = "font-family=\"monospace\" font-size=\"" + std::to_string(font) + "\" " + attrs;
    for (const std::string& line : lines) {
        add_text(svg, x, y, all.c_str(), line);
        y += step;
    }
    return y;
}

int chars_across(double room, int font) {
    return (int)(room / (font * mono_advance));
}

// What a key sends: its outputs (its tap, for a key with a hold), then
// "hold:" and what it sends when held.
void append_outputs(const key_table& table, const key_entry& entry, const layout_view* view, std::string& out) {
    uint16_t first = entry.outputs[0];
    size_t layer = first & 0xFF;
    bool items = false;
    for (int i = 0; i < key_outputs && entry.outputs[i] != 0; ++i) {
        items = items || is_item_output(entry.outputs[i], entry.modifiers[i]);
    }
    if (items && view != nullptr) {
        for (int i = 0; i < key_outputs && entry.outputs[i] != 0; ++i) {
            if (i > 0) out += ", ";
            size_t item = static_cast<size_t>(entry.outputs[i]) - 1;
            if (is_item_output(entry.outputs[i], entry.modifiers[i]) && item < view->item_names.size()) {
                out += view->item_names[item];
                continue;
            }
            append_modifier_names(entry.modifiers[i], out);
            append_output_name(table, entry.outputs[i], out);
        }
        return;
    }
    if (!is_layer_switch(entry) || first >= switch_all_off || view == nullptr || layer >= view->layer_names.size()) {
        append_sequence(table, entry, out);
        return;
    }
    out += ((first & 0xFF00) == switch_toggle ? "toggle(" : "layer(") + view->layer_names[layer] + ")";
}

std::string key_text(const key_table& table, int entry, const layout_view* view) {
    std::string text;
    append_outputs(table, table.entries[entry], view, text);
    if (view == nullptr || !view->has_hold[entry]) return text;
    if (text.empty()) text = "itself";
    text += " / hold: ";
    append_outputs(table, view->holds.entries[entry], view, text);
    return text;
}

// Draws one key; returns true when its sequence was shortened (the key then
// carries the number `number` in a badge on its last line).
bool draw_key(std::string& svg, const key_table& table, int top, int place, const layout_picture& picture, int number,
              const layout_view* view) {
    const key_place& k = key_places[place];
    double x = margin + k.x * quarter + gap;
    double y = top + k.y * quarter + gap;
    double w = k.w * quarter - 2 * gap;
    double h = k.h * quarter - 2 * gap;
    int entry = picture.entry[place];
    key_look look = picture.look[place];
    // A key that does something when held is mapped, tap or not.
    if (entry >= 0 && view != nullptr && view->has_hold[entry]) look = look_mapped;

    look_colours colours = k.named ? plain_colours : unnamed_colours;
    if (look == look_mapped)
        colours = mapped_colours;
    else if (look == look_passes)
        colours = passes_colours;
    add_rect(svg, x, y, w, h, 5, colours.fill, colours.stroke);

    std::vector<std::string> lines;
    int per_line = chars_across(w - 10, out_font);
    int max_lines = 1 + (int)(h - 36) / out_line;
    bool cut = false;
    if (look == look_mapped) {
        std::string sequence = key_text(table, entry, view);
        cut = fit_text(sequence, per_line, max_lines, lines);
        if (cut && max_lines > 1) fit_text(sequence, per_line, max_lines - 1, lines);  // the badge takes the last line
        add_lines(svg, x + 5, y + 30, out_font, out_line, std::string("fill=\"") + mapped_ink + "\"", lines);
    } else if (look == look_passes) {
        fit_text(passes_text, per_line, max_lines, lines);
        add_lines(svg, x + 5, y + 30, out_font, out_line,
                  std::string("font-style=\"italic\" fill=\"") + passes_ink + "\"", lines);
    }

    if (cut) {
        std::string digits = std::to_string(number);
        double bw = 8 + 6 * (double)digits.size();
        add_rect(svg, x + w - bw - 3, y + h - 16, bw, 13, 6.5, badge_fill, nullptr);
        add_text(svg, x + w - 3 - bw / 2, y + h - 6,
                 "font-family=\"sans-serif\" font-size=\"10\" font-weight=\"bold\" "
                 "fill=\"#ffffff\" text-anchor=\"middle\"",
                 digits);
    }
    double label_room = w - 12;
    double size = 12;
    int len = text_length(k.label);
    if (len * bold_sans_advance * size > label_room) size = label_room / (len * bold_sans_advance);
    if (size < 7) size = 7;
    std::string attrs = "font-family=\"sans-serif\" font-weight=\"bold\" fill=\"#1a1a1a\" font-size=\"";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", size);
    attrs += buf;
    attrs += "\"";
    add_text(svg, x + 6, y + 15, attrs.c_str(), k.label);
    return cut;
}

void add_swatch(std::string& svg, double& x, double y, const look_colours& colours, const char* text) {
    add_rect(svg, x, y - 12, 22, 16, 3, colours.fill, colours.stroke);
    add_text(svg, x + 28, y, "font-family=\"sans-serif\" font-size=\"12\" fill=\"#1a1a1a\"", text);
    x += 28 + text_length(text) * 12 * 0.56 + 24;
}

// A heading and its entries below the keyboard; continuation lines of an
// entry are indented. Returns the baseline after the section.
double add_section(std::string& svg, double y, const char* heading, const std::vector<std::string>& entries) {
    if (entries.empty()) return y;
    add_text(svg, margin, y, "font-family=\"sans-serif\" font-size=\"14\" font-weight=\"bold\" fill=\"#1a1a1a\"",
             heading);
    y += legend_line + 3;
    int indent = 24;
    int per_line = chars_across(width - 2 * margin - indent, legend_font);
    for (const std::string& entry : entries) {
        std::vector<std::string> lines;
        fit_text(entry, per_line, 0, lines);
        for (size_t i = 0; i < lines.size(); ++i) {
            std::vector<std::string> one(1, lines[i]);
            y = add_lines(svg, margin + (i == 0 ? 0 : indent), y, legend_font, legend_line, "fill=\"#1a1a1a\"", one);
        }
    }
    return y + 10;
}

std::string entry_text(const key_table& table, int entry, const layout_view* view) {
    if (table.entries[entry].outputs[0] != 0 || (view != nullptr && view->has_hold[entry])) {
        return key_text(table, entry, view);
    }
    return std::string(passes_text) + " (first output empty)";
}

}  // namespace

namespace {

struct drawn_keyboard {
    const std::string* heading;
    const key_table* table;
    layout_picture picture;
    const layout_view* view;  // its holds; null when it has none
};

void draw_all(const std::vector<drawn_keyboard>& keyboards, const std::string& hardware_id,
              const std::string& file_name, std::string& svg) {
    std::string body;
    double y = margin + 22;
    add_text(body, margin, y, "font-family=\"sans-serif\" font-size=\"22\" font-weight=\"bold\" fill=\"#1a1a1a\"",
             "padmap layout");
    y += 26;
    int per_line = chars_across(width - 2 * margin, 13);
    std::vector<std::string> lines;
    fit_text("keyboard: " + hardware_id, per_line, 0, lines);
    std::vector<std::string> more;
    fit_text("configuration: " + file_name, per_line, 0, more);
    lines.insert(lines.end(), more.begin(), more.end());
    y = add_lines(body, margin, y, 13, 18, "fill=\"#1a1a1a\"", lines);

    for (size_t k = 0; k < keyboards.size(); ++k) {
        const drawn_keyboard& keyboard = keyboards[k];
        const key_table& table = *keyboard.table;
        const layout_picture& picture = keyboard.picture;
        if (!keyboard.heading->empty()) {
            y += k == 0 ? 12 : 28;
            add_text(body, margin, y,
                     "font-family=\"sans-serif\" font-size=\"17\" font-weight=\"bold\" fill=\"#1a1a1a\"",
                     *keyboard.heading);
            y += 12;
        }
        int top = (int)y;
        std::vector<std::string> shortened;
        for (int p = 0; p < key_place_count; ++p) {
            int number = (int)shortened.size() + 1;
            if (draw_key(body, table, top, p, picture, number, keyboard.view))
                shortened.push_back(std::to_string(number) + ". " + key_places[p].label + ": " +
                                    entry_text(table, picture.entry[p], keyboard.view));
        }
        y = top + keyboard_height_q * quarter + 34;

        if (k == 0) {
            double x = margin;
            add_swatch(body, x, y, mapped_colours, "mapped");
            add_swatch(body, x, y, passes_colours, "named but passes through (first output empty)");
            add_swatch(body, x, y, plain_colours, "not mapped");
            add_swatch(body, x, y, unnamed_colours, "no name: padmap passes it on");
            y += 34;
        }

        y = add_section(body, y, "Shortened on the keys", shortened);
        std::vector<std::string> loose;
        for (int i = 0; i < picture.loose_count; ++i) {
            const key_entry& e = table.entries[picture.loose[i]];
            loose.push_back(std::string(e.name) + " " + code_text(e.scan_code) + ": " +
                            entry_text(table, picture.loose[i], keyboard.view));
        }
        y = add_section(body, y, "Keys without a place on this keyboard", loose);
    }

    int height = (int)y + margin - 10;
    std::string w = std::to_string(width);
    std::string h = std::to_string(height);
    svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
        w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h + "\">\n<title>";
    append_xml_text("padmap layout: " + hardware_id, svg);
    svg += "</title>\n<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += body;
    svg += "</svg>\n";
}

}  // namespace

void draw_layout(const key_table& table, const layout_picture& picture, const std::string& hardware_id,
                 const std::string& file_name, std::string& svg) {
    static const std::string no_heading;
    draw_all({drawn_keyboard{&no_heading, &table, picture, nullptr}}, hardware_id, file_name, svg);
}

void draw_layouts(const std::vector<layout_view>& views, const std::string& hardware_id, const std::string& file_name,
                  std::string& svg) {
    std::vector<drawn_keyboard> keyboards(views.size());
    for (size_t k = 0; k < views.size(); ++k) {
        keyboards[k].heading = &views[k].heading;
        keyboards[k].table = &views[k].table;
        keyboards[k].view = &views[k];
        build_picture(views[k].table, views[k].named, keyboards[k].picture);
    }
    draw_all(keyboards, hardware_id, file_name, svg);
}
