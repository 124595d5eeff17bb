/* A stand-in for the game's starter TidesStartup.exe: it records the command line Windows gave
 * it, its argv and its current directory into the file named by VELMAR_STANDIN_OUT (written
 * under another name first and then renamed, so a reader never sees half a record). Before
 * that it leaves C:\velmar-marker.txt, which tells the prefix it ran in. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    const char* out = getenv("VELMAR_STANDIN_OUT");
    if (!out || !*out)
        return 2;
    FILE* marker = fopen("C:\\velmar-marker.txt", "wb");
    if (marker)
        fclose(marker);
    char temporary[MAX_PATH + 8];
    snprintf(temporary, sizeof temporary, "%s.part", out);
    FILE* f = fopen(temporary, "wb");
    if (!f)
        return 3;
    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    fprintf(f, "cmdline=[%s]\nargc=%d\n", GetCommandLineA(), argc);
    for (int i = 1; i < argc; ++i)
        fprintf(f, "arg=[%s]\n", argv[i]);
    fprintf(f, "cwd=[%s]\n", cwd);
    fprintf(f, "helper-input-visible=%d\n", getenv("VELMAR_START_PROGRAM") != NULL);
    fclose(f);
    return MoveFileExA(temporary, out, MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
