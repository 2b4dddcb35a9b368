/* Starts the Windows programs of a warm session's runs, each a child of this one process.
 *
 * A 32-bit program named on Wine's command line is started by a 64-bit start.exe, which loads
 * user32, gdi32 and shell32 first: under emulation that doubles what a test program's start costs.
 * Kept running in the session, this program starts each directly, as a Windows program starts
 * another. The dispatcher (dispatcher.sh) moves it into the run's cgroup while it starts one, so the
 * program and whatever it leaves are the run's, and back once it has started.
 *
 *   wine64 launcher.exe <REQUESTS >REPLIES
 *
 * It says "ready" once it reads requests. A request is a line: RUN_FOLDER, a tab and WORKING_FOLDER (Linux paths, UTF-8). RUN_FOLDER holds
 * argv and env as the host driver wrote them (each entry UTF-8 and ended by a NUL); the program's
 * output is appended to its stdout and stderr. The program gets this process's environment with the
 * run's QELPAD_ variables in place of its own (the rest is the session's: see kind_of_run in
 * dispatcher.sh). Replies are lines: "started", or "failed CODE" when it could not be started (the
 * Windows error), then "exit CODE" when it has ended (the exit code's low byte, as Wine gives a
 * program's exit code to Linux).
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static const wchar_t kRunVariables[] = L"QELPAD_";

/* A growing wide string. */
typedef struct {
    wchar_t *text;
    size_t length, capacity;
} Text;

static void Append(Text *to, const wchar_t *text, size_t length) {
    if (to->length + length + 2 > to->capacity) {
        to->capacity = (to->length + length + 2) * 2;
        to->text = realloc(to->text, to->capacity * sizeof(wchar_t));
        if (!to->text) ExitProcess(125);
    }
    memcpy(to->text + to->length, text, length * sizeof(wchar_t));
    to->length += length;
    to->text[to->length] = 0;
}

static void AppendChar(Text *to, wchar_t c) { Append(to, &c, 1); }

/* UTF-8 (LENGTH bytes) as UTF-16, ended by a NUL; the caller frees it. */
static wchar_t *Widen(const char *text, int length) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, length, NULL, 0);
    wchar_t *wide = calloc(size + 1, sizeof(wchar_t));
    if (!wide) ExitProcess(125);
    MultiByteToWideChar(CP_UTF8, 0, text, length, wide, size);
    return wide;
}

/* A Linux path as Wine's drive Z: names it; a relative one taken from FOLDER. */
static wchar_t *DosPath(const char *path, const char *folder) {
    Text dos = {0};
    wchar_t *wide;
    Append(&dos, L"Z:", 2);
    if (path[0] != '/') {
        wide = Widen(folder, -1);
        Append(&dos, wide, wcslen(wide));
        AppendChar(&dos, L'/');
        free(wide);
    }
    wide = Widen(path, -1);
    Append(&dos, wide, wcslen(wide));
    free(wide);
    for (wchar_t *c = dos.text; *c; ++c) {
        if (*c == L'/') *c = L'\\';
    }
    return dos.text;
}

/* The file NAME of the Linux folder FOLDER, as drive Z: names it. */
static wchar_t *FileIn(const char *folder, const char *name) {
    char path[MAX_PATH * 2];
    snprintf(path, sizeof(path), "%s/%s", folder, name);
    return DosPath(path, "/");
}

/* The whole of FOLDER/NAME, ended by a NUL (*SIZE bytes before it); NULL when it cannot be read. */
static char *ReadWhole(const char *folder, const char *name, DWORD *size) {
    wchar_t *dos = FileIn(folder, name);
    const HANDLE file = CreateFileW(dos, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    free(dos);
    if (file == INVALID_HANDLE_VALUE) return NULL;
    const DWORD length = GetFileSize(file, NULL);
    char *data = malloc(length + 1);
    DWORD read = 0;
    if (!data || !ReadFile(file, data, length, &read, NULL) || read != length) {
        free(data);
        data = NULL;
    } else {
        data[length] = 0;
        *size = length;
    }
    CloseHandle(file);
    return data;
}

/* An argument as the C runtime reads it back from a command line. */
static void AppendArgument(Text *line, const wchar_t *argument) {
    if (line->length) AppendChar(line, L' ');
    if (*argument && !wcspbrk(argument, L" \t\"")) {
        Append(line, argument, wcslen(argument));
        return;
    }
    AppendChar(line, L'"');
    for (const wchar_t *c = argument;; ++c) {
        size_t backslashes = 0;
        while (*c == L'\\') ++backslashes, ++c;
        /* Backslashes are doubled where a quote follows them, the closing one included. */
        if (!*c || *c == L'"') backslashes *= 2;
        for (size_t i = 0; i < backslashes; ++i) AppendChar(line, L'\\');
        if (!*c) break;
        if (*c == L'"') AppendChar(line, L'\\');
        AppendChar(line, *c);
    }
    AppendChar(line, L'"');
}

static BOOL IsRunVariable(const wchar_t *entry) {
    return _wcsnicmp(entry, kRunVariables, wcslen(kRunVariables)) == 0;
}

/* This process's environment without its QELPAD_ variables, with the run's (from ENV, SIZE bytes). */
static wchar_t *Environment(const char *env, DWORD size) {
    Text block = {0};
    wchar_t *own = GetEnvironmentStringsW();
    for (const wchar_t *entry = own; *entry; entry += wcslen(entry) + 1) {
        if (!IsRunVariable(entry)) Append(&block, entry, wcslen(entry) + 1);
    }
    FreeEnvironmentStringsW(own);
    for (const char *entry = env; entry < env + size; entry += strlen(entry) + 1) {
        wchar_t *wide = Widen(entry, -1);
        if (IsRunVariable(wide)) Append(&block, wide, wcslen(wide) + 1);
        free(wide);
    }
    AppendChar(&block, 0);
    return block.text;
}

static HANDLE OpenInherited(const wchar_t *path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherited = {0};
    inherited.nLength = sizeof(inherited);
    inherited.bInheritHandle = TRUE;
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                       disposition, FILE_ATTRIBUTE_NORMAL, NULL);
}

static HANDLE OpenOutput(const char *folder, const char *name) {
    wchar_t *dos = FileIn(folder, name);
    const HANDLE file = OpenInherited(dos, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
    free(dos);
    return file;
}

static void Reply(const char *format, unsigned long value) {
    char line[64];
    const int length = snprintf(line, sizeof(line), format, value);
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, length, &written, NULL);
}

/* One run: started, waited for, its exit code replied. */
static void Run(const char *folder, const char *workingFolder) {
    DWORD argvSize = 0, envSize = 0;
    char *argv = ReadWhole(folder, "argv", &argvSize);
    char *env = ReadWhole(folder, "env", &envSize);
    if (!argv || !env || !argvSize) {
        Reply("failed %lu\n", ERROR_FILE_NOT_FOUND);
        free(argv);
        free(env);
        return;
    }
    wchar_t *program = DosPath(argv, workingFolder);
    Text line = {0};
    AppendArgument(&line, program);
    for (const char *argument = argv + strlen(argv) + 1; argument < argv + argvSize;
         argument += strlen(argument) + 1) {
        wchar_t *wide = Widen(argument, -1);
        AppendArgument(&line, wide);
        free(wide);
    }
    wchar_t *environment = Environment(env, envSize);
    wchar_t *folderPath = DosPath(workingFolder, "/");

    STARTUPINFOW startup = {0};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = OpenInherited(L"NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = OpenOutput(folder, "stdout");
    startup.hStdError = OpenOutput(folder, "stderr");
    PROCESS_INFORMATION started;
    memset(&started, 0, sizeof(started));
    const BOOL ok = startup.hStdOutput != INVALID_HANDLE_VALUE && startup.hStdError != INVALID_HANDLE_VALUE &&
                    CreateProcessW(program, line.text, NULL, NULL, TRUE, CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS, environment,
                                   folderPath, &startup, &started);
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(startup.hStdInput);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    free(argv);
    free(env);
    free(program);
    free(line.text);
    free(environment);
    free(folderPath);
    if (!ok) {
        Reply("failed %lu\n", error);
        return;
    }
    CloseHandle(started.hThread);
    Reply("started\n", 0);
    DWORD code = 0;
    WaitForSingleObject(started.hProcess, INFINITE);
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hProcess);
    Reply("exit %lu\n", code & 0xFF);
}

int main(void) {
    /* The requests and replies are this process's alone: no program started inherits them. */
    const DWORD standard[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) SetHandleInformation(GetStdHandle(standard[i]), HANDLE_FLAG_INHERIT, 0);
    char request[4 * MAX_PATH];
    size_t length = 0;
    Reply("ready\n", 0);
    for (;;) {
        char c;
        DWORD read = 0;
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &read, NULL) || !read) return 0;
        if (c != '\n') {
            if (length + 1 < sizeof(request)) request[length++] = c;
            continue;
        }
        request[length] = 0;
        length = 0;
        char *tab = strchr(request, '\t');
        if (!tab) {
            Reply("failed %lu\n", ERROR_INVALID_PARAMETER);
            continue;
        }
        *tab = 0;
        Run(request, tab + 1);
    }
}
