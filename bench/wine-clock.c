/* For bench/wine_start.sh: a Windows program that writes the moment it began running (Unix time
 * in microseconds, the clock Wine shares with Linux) to the file named by VELMAR_CLOCK_OUT, under
 * another name first and then renamed into place. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int main(void) {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    ULONGLONG ticks = ((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime;
    ULONGLONG unixMicroseconds = (ticks - 116444736000000000ULL) / 10;
    const char* out = getenv("VELMAR_CLOCK_OUT");
    if (!out || !*out)
        return 2;
    char temporary[MAX_PATH + 8];
    snprintf(temporary, sizeof temporary, "%s.part", out);
    FILE* f = fopen(temporary, "wb");
    if (!f)
        return 3;
    fprintf(f, "%llu\n", unixMicroseconds);
    fclose(f);
    return MoveFileExA(temporary, out, MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
