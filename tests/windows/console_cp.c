/* Prints the console's output code page, so a check can see that a program
   run before it in the same console left the code page as it was. */
#include <stdio.h>
#include <windows.h>

int main(void) {
    printf("output code page %u\n", GetConsoleOutputCP());
    return 0;
}
