/* velmar-wine-start: a small Windows program, run with `wine`, that starts the game's starter
 * with exactly the command line Windows gives it: the 8.3 short form of the program path,
 * unquoted, then one blank and the argument when there is one. `wine PROGRAM ARG` can not do
 * that: it quotes the program word and escapes every double quote of the argument.
 *
 * Input, through the environment (so nothing is quoted or split on the way), each value the
 * hexadecimal digits of its UTF-8 bytes, so the Unix locale can not garble it:
 *   VELMAR_START_PROGRAM   the program: a Windows path (C:\...) or an absolute Unix path
 *   VELMAR_START_ARGUMENT  the argument; when the variable is absent there is no argument,
 *                          when it is empty the argument is empty (the line ends in a blank)
 * Output: one line on standard output, "velmar-wine-start: <code> <system text>", and the exit
 * code: 0 once the process exists, else the Windows error code of the failure. The started
 * process is not waited for.
 */
#define WIN32_LEAN_AND_MEAN
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int hexDigit(WCHAR c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

/* The UTF-16 text of a hex-encoded UTF-8 variable; NULL when it is absent or malformed.
 * *present tells the two apart. */
static WCHAR* readVariable(const WCHAR* name, int* present) {
    DWORD size = GetEnvironmentVariableW(name, NULL, 0);
    *present = size > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    if (!*present)
        return NULL;
    WCHAR* hex = calloc((size_t)size + 1, sizeof(WCHAR));
    if (!hex)
        return NULL;
    DWORD length = size ? GetEnvironmentVariableW(name, hex, size + 1) : 0;
    if (length % 2 != 0) {
        free(hex);
        return NULL;
    }
    char* bytes = malloc(length / 2 + 1);
    if (!bytes) {
        free(hex);
        return NULL;
    }
    for (DWORD i = 0; i < length / 2; ++i) {
        int high = hexDigit(hex[2 * i]);
        int low = hexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            free(hex);
            free(bytes);
            return NULL;
        }
        bytes[i] = (char)(high * 16 + low);
    }
    free(hex);
    int count = length ? MultiByteToWideChar(CP_UTF8, 0, bytes, (int)(length / 2), NULL, 0) : 0;
    WCHAR* text = calloc((size_t)count + 1, sizeof(WCHAR));
    if (text && count)
        MultiByteToWideChar(CP_UTF8, 0, bytes, (int)(length / 2), text, count);
    free(bytes);
    return text;
}

/* Wine's own conversion of a Unix path to the Windows path the program sees (a drive letter
 * that maps to the folder, Z:\ for the Unix root). */
static WCHAR* dosPathOfUnixPath(const WCHAR* unixPath) {
    typedef WCHAR*(CDECL * ToDos)(const char*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    ToDos toDos = kernel ? (ToDos)(void*)GetProcAddress(kernel, "wine_get_dos_file_name") : NULL;
    if (!toDos)
        return NULL;
    int size = WideCharToMultiByte(CP_UTF8, 0, unixPath, -1, NULL, 0, NULL, NULL);
    char* bytes = malloc((size_t)size);
    if (!bytes)
        return NULL;
    WideCharToMultiByte(CP_UTF8, 0, unixPath, -1, bytes, size, NULL, NULL);
    WCHAR* dos = toDos(bytes); /* allocated on the process heap */
    free(bytes);
    if (!dos)
        return NULL;
    WCHAR* copy = _wcsdup(dos);
    HeapFree(GetProcessHeap(), 0, dos);
    return copy;
}

static int report(DWORD code) {
    WCHAR* message = NULL;
    char text[1024] = "";
    if (code != 0 &&
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       NULL, code, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), (WCHAR*)&message, 0,
                       NULL) &&
        message) {
        WideCharToMultiByte(CP_UTF8, 0, message, -1, text, sizeof text - 1, NULL, NULL);
        LocalFree(message);
    }
    /* One line: the system's text without its line end. */
    for (char* p = text; *p; ++p)
        if (*p == '\r' || *p == '\n')
            *p = ' ';
    size_t end = strlen(text);
    while (end > 0 && text[end - 1] == ' ')
        text[--end] = '\0';
    char line[1200];
    int length = snprintf(line, sizeof line, "velmar-wine-start: %lu %s\n", (unsigned long)code,
                          text);
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != NULL && out != INVALID_HANDLE_VALUE && length > 0)
        WriteFile(out, line, (DWORD)length, &written, NULL);
    return (int)code;
}

int main(void) {
    int present = 0;
    WCHAR* program = readVariable(L"VELMAR_START_PROGRAM", &present);
    if (!program || !*program)
        return report(ERROR_INVALID_PARAMETER);
    int hasArgument = 0;
    WCHAR* argument = readVariable(L"VELMAR_START_ARGUMENT", &hasArgument);
    if (hasArgument && !argument)
        return report(ERROR_INVALID_PARAMETER);

    if (program[0] == L'/') {
        WCHAR* dos = dosPathOfUnixPath(program);
        if (!dos)
            return report(ERROR_PATH_NOT_FOUND);
        free(program);
        program = dos;
    }

    /* The short form as the system gives it, or the path as it stands when that fails. */
    WCHAR* shortPath = NULL;
    DWORD shortSize = GetShortPathNameW(program, NULL, 0);
    if (shortSize > 0) {
        shortPath = calloc(shortSize + 1, sizeof(WCHAR));
        if (shortPath && GetShortPathNameW(program, shortPath, shortSize + 1) == 0) {
            free(shortPath);
            shortPath = NULL;
        }
    }
    const WCHAR* head = shortPath ? shortPath : program;

    /* A 64-bit-only Wine creates a 32-bit process and lets it die at once (its 32-bit system
     * files are missing); Windows would have run it. Say so instead of reporting a start. */
    DWORD binaryType = 0;
    if (GetBinaryTypeW(program, &binaryType) && binaryType == SCS_32BIT_BINARY) {
        WCHAR wow64[MAX_PATH + 16];
        UINT length = GetSystemWow64DirectoryW(wow64, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return report(ERROR_EXE_MACHINE_TYPE_MISMATCH);
        wcscat(wow64, L"\\ntdll.dll");
        if (GetFileAttributesW(wow64) == INVALID_FILE_ATTRIBUTES)
            return report(ERROR_EXE_MACHINE_TYPE_MISMATCH);
    }

    size_t lineLength = wcslen(head) + (hasArgument ? 1 + wcslen(argument) : 0);
    WCHAR* line = calloc(lineLength + 1, sizeof(WCHAR));
    if (!line)
        return report(ERROR_NOT_ENOUGH_MEMORY);
    wcscpy(line, head);
    if (hasArgument) {
        wcscat(line, L" ");
        wcscat(line, argument);
    }

    /* The game sees the environment of the launcher, not the helper's input. */
    SetEnvironmentVariableW(L"VELMAR_START_PROGRAM", NULL);
    SetEnvironmentVariableW(L"VELMAR_START_ARGUMENT", NULL);

    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    memset(&process, 0, sizeof process);
    startup.cb = sizeof startup;
    if (!CreateProcessW(program, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
        return report(GetLastError());
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return report(0);
}
