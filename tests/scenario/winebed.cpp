/*
 * winebed.cpp: the Wine test bed (see winebed.h).
 *
 * Child processes are started with fork/exec: standard input from
 * /dev/null (tests run without a terminal), output into files in the bed's
 * folder.  The display and the player get a parent-death signal; the
 * wineserver does not, because Wine processes outlive a server that is
 * killed: a watchdog process stops it with "wineserver -k" (which ends every
 * Wine process of the prefix) when the test process dies without stopping
 * the bed.
 */
#include "winebed.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "bedtext.h"

#ifndef TVSE_PLAYER_EXE
#error "TVSE_PLAYER_EXE must name the x86_64 build of tvseplayer.exe"
#endif

extern char **environ;

namespace fs = std::filesystem;

namespace winebed {

namespace {

const char *const WineLoader = "/usr/lib/wine/wine64";
const char *const WineServer = "/usr/lib/wine/wineserver64";

using Clock = std::chrono::steady_clock;

struct BedState {
    bool running = false;
    std::string folder;
    std::string prefix;
    std::string display;
    pid_t xvfb = -1;
    pid_t server = -1;
    pid_t watchdog = -1;
    int watchdogFd = -1; /* closing it without a byte tells the watchdog to clean up */
    std::vector<std::string> wineEnv;
    int folders = 0;
    std::map<char, std::string> drives; /* mapped removable drives and their folders */
} Bed;

[[noreturn]] void Fail(const std::string &what) { throw std::runtime_error("winebed: " + what); }

long long MillisSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    out.close();
    if (!out) Fail("cannot write " + path);
}

/* Writes through a temporary name so that a reader never sees half a file. */
void WriteFileAtomically(const std::string &path, const std::string &data)
{
    WriteFile(path + ".tmp", data);
    if (std::rename((path + ".tmp").c_str(), path.c_str()) != 0) Fail("cannot rename to " + path);
}

/* ---- Child processes ---- */

struct SpawnOptions {
    std::string cwd;
    std::string output;   /* file for standard output and error; empty: /dev/null */
    bool newGroup = false;
    bool dieWithParent = true;
    int keepFd = -1;      /* a descriptor the child inherits */
};

pid_t Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, const SpawnOptions &opt)
{
    std::vector<char *> args, envp;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const auto &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) Fail(std::string("fork: ") + std::strerror(errno));
    if (pid > 0) {
        if (opt.newGroup) setpgid(pid, pid); /* also done by the child; whichever runs first */
        return pid;
    }
    if (opt.dieWithParent) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
    }
    if (opt.newGroup) setpgid(0, 0);
    int in = open("/dev/null", O_RDONLY);
    int out = opt.output.empty() ? open("/dev/null", O_WRONLY)
                                 : open(opt.output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    if (opt.keepFd >= 3) {
        if (opt.keepFd > 3) close_range(3, opt.keepFd - 1, 0);
        close_range(opt.keepFd + 1, ~0U, 0);
    } else {
        close_range(3, ~0U, 0);
    }
    if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0) _exit(127);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

/* The child's wait status, or nothing when it still runs after ms. */
std::optional<int> WaitFor(pid_t pid, long long ms)
{
    const auto start = Clock::now();
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0) return -1; /* not our child any more */
        if (MillisSince(start) >= ms) return std::nullopt;
        SleepMs(5);
    }
}

void KillAndReap(pid_t pid, bool group)
{
    if (pid <= 0) return;
    kill(group ? -pid : pid, SIGKILL);
    WaitFor(pid, 10000);
}

int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

std::vector<std::string> HostEnvironment()
{
    std::vector<std::string> out;
    for (char **e = environ; *e; ++e) out.emplace_back(*e);
    return out;
}

/* The host's environment without anything that steers Wine, X or the
 * locale, plus the bed's own settings. */
std::vector<std::string> MakeWineEnvironment()
{
    std::vector<std::string> out;
    bool home = false;
    for (const std::string &e : HostEnvironment()) {
        std::string name = e.substr(0, e.find('='));
        if (name.rfind("WINE", 0) == 0 || name == "DISPLAY" || name == "XAUTHORITY" || name == "LANG" ||
            name == "LANGUAGE" || name.rfind("LC_", 0) == 0)
            continue;
        if (name == "HOME") home = true;
        out.push_back(e);
    }
    const char *debug = getenv("TVSE_WINEDEBUG");
    out.push_back("WINEPREFIX=" + Bed.prefix);
    out.push_back(std::string("WINEDEBUG=") + (debug ? debug : "-all"));
    /* No prompts for Mono and Gecko, no desktop menu entries on the host. */
    out.push_back("WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d");
    out.push_back("DISPLAY=" + Bed.display);
    out.push_back("LANG=C.UTF-8");
    if (!home) out.push_back("HOME=" + Bed.folder);
    return out;
}

/* Runs a Wine program (or the wineserver when loader is given) to its end. */
int RunWineTool(const std::vector<std::string> &args, long long timeoutMs, std::string *output = nullptr,
                const char *loader = WineLoader)
{
    std::vector<std::string> argv{loader};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string log = Bed.folder + "/tool.out";
    std::remove(log.c_str());
    SpawnOptions opt;
    opt.cwd = Bed.folder;
    opt.output = log;
    opt.newGroup = true;
    pid_t pid = Spawn(argv, Bed.wineEnv, opt);
    std::optional<int> status = WaitFor(pid, timeoutMs);
    if (!status) {
        KillAndReap(pid, true);
        Fail("timed out: " + args[0] + (args.size() > 1 ? " " + args[1] : ""));
    }
    if (output) *output = ReadFile(log);
    return ExitStatus(*status);
}

/* ---- Display and server ---- */

void StartDisplay()
{
    int fds[2];
    if (pipe(fds) != 0) Fail("pipe");
    SpawnOptions opt;
    opt.output = Bed.folder + "/xvfb.log";
    opt.keepFd = fds[1];
    Bed.xvfb = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "4096x1536x24", "-nolisten",
                      "tcp", "-noreset"},
                     HostEnvironment(), opt);
    close(fds[1]);
    std::string number;
    const auto start = Clock::now();
    while (number.find('\n') == std::string::npos && MillisSince(start) < 20000) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buf[32];
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append(buf, n);
        }
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) Fail("Xvfb did not report a display: " + ReadFile(opt.output));
    Bed.display = ":" + number.substr(0, number.find('\n'));
}

/* The server's socket; Debian's Wine keeps it under a folder named in the
 * prefix's file "wineserver", upstream Wine under /tmp/.wine-UID. */
bool ServerListening()
{
    struct stat st;
    if (stat(Bed.prefix.c_str(), &st) != 0) return false;
    char leaf[64];
    std::snprintf(leaf, sizeof leaf, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::vector<std::string> dirs{"/tmp/.wine-" + std::to_string(getuid())};
    std::string named = ReadFile(Bed.prefix + "/wineserver");
    if (!named.empty()) dirs.push_back("/tmp/" + named.substr(0, named.find('\n')));
    for (const auto &d : dirs)
        if (access((d + "/" + leaf + "/socket").c_str(), F_OK) == 0) return true;
    return false;
}

void StartServer()
{
    SpawnOptions opt;
    opt.cwd = Bed.folder;
    opt.output = Bed.folder + "/wineserver.log";
    opt.newGroup = true;
    opt.dieWithParent = false; /* a killed server would leave its clients behind; the watchdog stops it */
    Bed.server = Spawn({WineServer, "-f", "-p"}, Bed.wineEnv, opt);
    const auto start = Clock::now();
    while (!ServerListening() && MillisSince(start) < 10000) {
        if (WaitFor(Bed.server, 0)) { /* another server holds the prefix; Wine uses that one */
            Bed.server = -1;
            break;
        }
        SleepMs(5);
    }
}

/* Ends the wineserver and with it every Wine process of the prefix; the
 * server saves the registry first. */
void StopServer()
{
    try {
        RunWineTool({"-k"}, 20000, nullptr, WineServer);
    } catch (const std::exception &) {
        /* the server is killed below */
    }
    if (Bed.server > 0 && !WaitFor(Bed.server, 10000)) KillAndReap(Bed.server, true);
    Bed.server = -1;
}

void RestartServer()
{
    StopServer();
    StartServer();
}

void RemoveFolder(const std::string &folder)
{
    std::error_code ec;
    /* The drive links point into the host's file system (z: is "/"); take
     * them out one by one before removing the rest. */
    for (const auto &e : fs::directory_iterator(folder + "/prefix/dosdevices", ec)) fs::remove(e.path(), ec);
    fs::remove_all(folder, ec);
}

void RemoveBedFolder()
{
    if (!Bed.folder.empty() && !getenv("TVSE_WINEBED_KEEP")) RemoveFolder(Bed.folder);
}

/* Removes the folders of beds whose test process was killed before it
 * could clean up (each bed names its process in owner.pid). */
void RemoveAbandonedBeds(const std::string &parent)
{
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(parent, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("tvse-winebed-", 0) != 0 || !e.is_directory(ec)) continue;
        std::string owner = ReadFile(e.path().string() + "/owner.pid");
        pid_t pid = static_cast<pid_t>(std::atol(owner.c_str()));
        if (pid <= 0 || kill(pid, 0) == 0 || errno != ESRCH) continue;
        /* its wineserver, if the watchdog did not get to stop it */
        pid_t killer = Spawn({WineServer, "-k"}, {"WINEPREFIX=" + e.path().string() + "/prefix"}, SpawnOptions());
        if (!WaitFor(killer, 10000)) KillAndReap(killer, false);
        RemoveFolder(e.path().string());
    }
}

/*
 * A forked helper that outlives a test process killed from outside (a
 * CTest timeout, say): it waits on a pipe whose other end only the test
 * process holds; end of file without a byte means the test process is
 * gone, and it stops the wineserver with every Wine process of the bed,
 * the display, and removes the bed's folder.
 */
void StartWatchdog()
{
    int fds[2];
    if (pipe(fds) != 0) Fail("pipe");
    std::vector<std::string> argv{WineServer, "-k"};
    std::vector<char *> args, envp;
    for (auto &a : argv) args.push_back(&a[0]);
    args.push_back(nullptr);
    for (auto &e : Bed.wineEnv) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) Fail(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        setsid();
        close(fds[1]);
        close_range(3, fds[0] - 1, 0);
        close_range(fds[0] + 1, ~0U, 0);
        char c;
        ssize_t n;
        do n = read(fds[0], &c, 1);
        while (n < 0 && errno == EINTR);
        if (n == 1) _exit(0);
        const pid_t killer = fork();
        if (killer == 0) {
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
        for (int i = 0; killer > 0 && i < 2000 && waitpid(killer, nullptr, WNOHANG) == 0; ++i) usleep(5000);
        if (Bed.xvfb > 0) kill(Bed.xvfb, SIGKILL);
        RemoveBedFolder();
        _exit(0);
    }
    close(fds[0]);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    Bed.watchdog = pid;
    Bed.watchdogFd = fds[1];
}

void StopWatchdog()
{
    if (Bed.watchdogFd >= 0) {
        ssize_t ignored = write(Bed.watchdogFd, "q", 1);
        (void)ignored;
        close(Bed.watchdogFd);
    }
    if (Bed.watchdog > 0 && !WaitFor(Bed.watchdog, 5000)) KillAndReap(Bed.watchdog, false);
}

void StopAll()
{
    StopWatchdog();
    if (Bed.server > 0 || Bed.running) StopServer();
    if (Bed.xvfb > 0) {
        kill(Bed.xvfb, SIGTERM);
        if (!WaitFor(Bed.xvfb, 5000)) KillAndReap(Bed.xvfb, false);
        Bed.xvfb = -1;
    }
    RemoveBedFolder();
    Bed = BedState();
}

/* ---- Script for the player ---- */

std::string Dirname(const std::string &path)
{
    fs::path p(path);
    return p.has_parent_path() ? p.parent_path().string() : std::string(".");
}

/* A program given as a Windows path ("A:\\SETUP.EXE") is started from
 * there; a host path goes through drive Z:. */
bool IsWindowsPath(const std::string &path)
{
    return path.size() > 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

std::string ScriptFor(const RunSpec &spec, const std::string &runDir)
{
    using bedtext::Quote;
    std::string s;
    const bool windows = IsWindowsPath(spec.program);
    const std::string hostProgram = windows ? HostPath(spec.program) : spec.program;
    s += "program " + Quote(windows ? spec.program : WindowsPath(spec.program)) + "\n";
    if (spec.commandLine) s += "cmdline " + Quote(*spec.commandLine) + "\n";
    s += "tail " + Quote(spec.tail) + "\n";
    s += "cwd " + Quote(WindowsPath(spec.workDir.empty() ? Dirname(fs::absolute(hostProgram).string())
                                                         : spec.workDir)) + "\n";
    for (const auto &e : spec.env) {
        if (e.second) s += "set " + Quote(e.first) + " " + Quote(*e.second) + "\n";
        else s += "unset " + Quote(e.first) + "\n";
    }
    s += "timeout " + std::to_string(spec.timeoutMs) + "\n";
    s += "syncwait 300000\n";
    s += "syncdir " + Quote(WindowsPath(runDir)) + "\n";
    for (const Answer &a : spec.answers) {
        s += "step press " + Quote(a.press);
        if (a.sync) s += " sync";
        if (a.brief) s += " brief";
        if (a.when) s += " when " + std::to_string(a.when->first) + " " + Quote(a.when->second);
        for (const auto &t : a.texts) s += " set " + std::to_string(t.first) + " " + Quote(t.second);
        s += "\n";
    }
    return s;
}

/* The program's exit code from the transcript's last "exit=" line. */
int64_t ExitCodeOf(const std::string &transcript)
{
    int64_t code = -1;
    std::istringstream lines(transcript);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("exit=", 0) != 0) continue;
        std::string value = line.substr(5);
        code = value == "killed" || value.empty()
                   ? -1
                   : std::strtoll(value.c_str(), nullptr, value.rfind("0x", 0) == 0 ? 16 : 10);
    }
    return code;
}

bool HasLine(const std::string &text, const std::string &line)
{
    std::istringstream lines(text);
    std::string l;
    while (std::getline(lines, l))
        if (l == line) return true;
    return false;
}

/* Starts and stops the bed around the whole test program. */
class BedEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        try {
            Start();
        } catch (const std::exception &e) {
            FAIL() << e.what();
        }
    }
    void TearDown() override { Stop(); }
};

::testing::Environment *const RegisteredEnvironment = ::testing::AddGlobalTestEnvironment(new BedEnvironment);

}  // namespace

/* ---- The bed ---- */

void Start()
{
    if (Bed.running) return;
    const auto start = Clock::now();
    try {
        const char *tmp = getenv("TMPDIR");
        const std::string parent = tmp && *tmp ? tmp : "/tmp";
        RemoveAbandonedBeds(parent);
        std::string pattern = parent + "/tvse-winebed-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) Fail("cannot create a folder from " + pattern);
        Bed.folder = buf.data();
        WriteFile(Bed.folder + "/owner.pid", std::to_string(getpid()) + "\n");
        Bed.prefix = Bed.folder + "/prefix";
        fs::create_directories(Bed.prefix);
        fs::create_directories(Bed.folder + "/files");
        StartDisplay();
        Bed.wineEnv = MakeWineEnvironment();
        StartWatchdog();
        StartServer();
        std::string out;
        int status = RunWineTool({"wineboot", "-i"}, 240000, &out);
        if (status != 0) Fail("wineboot failed (" + std::to_string(status) + "): " + out);
        Bed.running = true;
        /* Without a window manager Wine waits for every closed window;
         * unmanaged windows close at once.  A crash ends the process. */
        SetRegistry("HKCU\\Software\\Wine\\X11 Driver", "Managed", "REG_SZ", "N");
        SetRegistry("HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog", "REG_DWORD", "0");
    } catch (...) {
        StopAll();
        throw;
    }
    std::fprintf(stderr, "winebed: display %s, prefix %s ready in %.1f s\n", Bed.display.c_str(),
                 Bed.prefix.c_str(), MillisSince(start) / 1000.0);
}

void Stop() { StopAll(); }

std::string Folder()
{
    Start();
    return Bed.folder;
}

std::string Prefix()
{
    Start();
    return Bed.prefix;
}

std::string WindowsFolder() { return Prefix() + "/drive_c/windows"; }

std::string NewFolder(const std::string &name)
{
    Start();
    std::string path = Bed.folder + "/files/" + name + "-" + std::to_string(++Bed.folders);
    fs::create_directories(path);
    return path;
}

std::string WindowsPath(const std::string &hostPath)
{
    std::string abs = fs::absolute(hostPath).lexically_normal().string();
    std::string out = "Z:";
    for (char c : abs) out += c == '/' ? '\\' : c;
    return out;
}

std::string HostPath(const std::string &windowsPath)
{
    if (windowsPath.size() < 2 || windowsPath[1] != ':') Fail("not a Windows path: " + windowsPath);
    char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
    std::string rest = windowsPath.substr(2);
    for (char &c : rest)
        if (c == '\\') c = '/';
    std::string root;
    if (letter == 'z') {
        root = "";
    } else if (letter == 'c') {
        root = Bed.prefix + "/drive_c";
    } else {
        std::error_code ec;
        fs::path target = fs::read_symlink(Bed.prefix + "/dosdevices/" + std::string(1, letter) + ":", ec);
        if (ec) Fail("no drive " + std::string(1, letter) + ":");
        root = target.is_absolute() ? target.string() : (Bed.prefix + "/dosdevices/" + target.string());
    }
    if (rest.empty()) rest = "/";
    return root + rest;
}

/* ---- Answers ---- */

Answer &Answer::Sync(SyncFn fn)
{
    sync = std::move(fn);
    return *this;
}

Answer &Answer::When(int id, std::string text)
{
    when = std::make_pair(id, std::move(text));
    return *this;
}

Answer &Answer::Type(int id, std::string text)
{
    texts.emplace_back(id, std::move(text));
    return *this;
}

Answer &Answer::Brief()
{
    brief = true;
    return *this;
}

Answer Press(std::string button)
{
    Answer a;
    a.press = std::move(button);
    return a;
}

Answer Leave() { return Press("none"); }

/* ---- Runs ---- */

RunResult RunUnderWine(const RunSpec &spec)
{
    Start();
    RunResult result;
    const std::string dir = NewFolder("run");
    const std::string script = dir + "/script.txt";
    const std::string transcript = dir + "/transcript.txt";
    const std::string request = dir + "/sync.req";
    const std::string ack = dir + "/sync.ack";
    WriteFile(script, ScriptFor(spec, dir));

    SpawnOptions opt;
    opt.cwd = dir;
    opt.output = dir + "/player.log";
    opt.newGroup = true;
    const pid_t player = Spawn({WineLoader, TVSE_PLAYER_EXE, WindowsPath(script), WindowsPath(transcript)},
                               Bed.wineEnv, opt);

    const long long limit = spec.hostTimeoutMs > 0 ? spec.hostTimeoutMs : spec.timeoutMs + 30000LL;
    long long hostTime = 0; /* time spent in sync callbacks, not counted */
    std::exception_ptr callbackError;
    std::optional<int> status;
    const auto start = Clock::now();
    for (;;) {
        status = WaitFor(player, 0);
        if (status) break;
        if (access(request.c_str(), F_OK) == 0) {
            std::istringstream in(ReadFile(request));
            size_t answer = 0;
            int window = 0;
            in >> answer >> window;
            std::remove(request.c_str());
            const auto began = Clock::now();
            if (answer < spec.answers.size() && spec.answers[answer].sync && !callbackError) {
                try {
                    spec.answers[answer].sync(SyncPoint{answer, window, ReadFile(transcript)});
                } catch (...) {
                    callbackError = std::current_exception();
                }
            }
            hostTime += MillisSince(began);
            WriteFileAtomically(ack, "ok\n");
            continue;
        }
        if (MillisSince(start) - hostTime > limit) {
            result.log += "winebed: the player did not end within " + std::to_string(limit) +
                          " ms; every Wine process of the bed was killed\n";
            result.playerKilled = true;
            KillAndReap(player, true);
            RestartServer();
            break;
        }
        SleepMs(5);
    }

    result.transcript = ReadFile(transcript);
    result.log = ReadFile(opt.output) + result.log;
    if (status) result.playerStatus = ExitStatus(*status);
    result.exitCode = result.playerKilled ? -1 : ExitCodeOf(result.transcript);
    result.timedOut = result.playerKilled || HasLine(result.transcript, "timeout");
    result.asScripted = result.playerStatus == 0;
    if (callbackError) std::rethrow_exception(callbackError);
    return result;
}

/* ---- Machine set-up ---- */

char DriveLetter(char letter) { return static_cast<char>(std::tolower(static_cast<unsigned char>(letter))); }

void MapRemovableDrive(char letter, const std::string &hostFolder)
{
    Start();
    const char drive = DriveLetter(letter);
    const std::string link = Bed.prefix + "/dosdevices/" + drive + ":";
    const fs::path folder = fs::absolute(hostFolder);
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_directory_symlink(folder, link, ec);
    if (ec) Fail("cannot link " + link + ": " + ec.message());
    SetRegistry("HKLM\\Software\\Wine\\Drives", std::string(1, drive) + ":", "REG_SZ", "floppy");
    RestartServer(); /* the mount manager reads the drives when it starts */
    Bed.drives[drive] = folder.string();
}

void UnmapDrive(char letter)
{
    Start();
    const char drive = DriveLetter(letter);
    std::error_code ec;
    fs::remove(Bed.prefix + "/dosdevices/" + drive + ":", ec);
    DeleteRegistry("HKLM\\Software\\Wine\\Drives", std::string(1, drive) + ":");
    RestartServer();
    Bed.drives.erase(drive);
}

void InsertDisk(char letter, const std::string &hostFolder)
{
    Start();
    const char drive = DriveLetter(letter);
    const std::string folder = fs::absolute(hostFolder).string();
    std::string out;
    if (RunWineTool({TVSE_PLAYER_EXE, "/drive", std::string(1, drive), folder}, 30000, &out) != 0)
        Fail("cannot define drive " + std::string(1, drive) + ": " + out);
    Bed.drives[drive] = folder;
}

void SetVolumeLabel(const std::string &hostFolder, const std::string &label)
{
    const std::string file = hostFolder + "/.windows-label";
    if (label.empty()) std::remove(file.c_str());
    else WriteFileAtomically(file, label);
    for (const auto &d : Bed.drives) {
        std::error_code ec;
        if (fs::equivalent(d.second, hostFolder, ec)) InsertDisk(d.first, d.second);
    }
}

void SetWindowsVersion(const std::string &exeName, const std::string &version)
{
    const std::string key = "HKCU\\Software\\Wine\\AppDefaults\\" + exeName;
    if (version.empty()) DeleteRegistry(key, "Version");
    else SetRegistry(key, "Version", "REG_SZ", version);
}

std::optional<RegValue> QueryRegistry(const std::string &key, const std::string &name)
{
    Start();
    std::string out;
    if (RunWineTool({"reg", "query", key, "/v", name}, 30000, &out) != 0) return std::nullopt;
    /* "    NAME    TYPE    DATA" */
    const std::string prefix = "    " + name + "    ";
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(prefix, 0) != 0) continue;
        std::string rest = line.substr(prefix.size());
        size_t gap = rest.find("    ");
        RegValue v;
        v.type = rest.substr(0, gap);
        v.data = gap == std::string::npos ? std::string() : rest.substr(gap + 4);
        return v;
    }
    return std::nullopt;
}

void SetRegistry(const std::string &key, const std::string &name, const std::string &type, const std::string &data)
{
    Start();
    std::string out;
    if (RunWineTool({"reg", "add", key, "/v", name, "/t", type, "/d", data, "/f"}, 30000, &out) != 0)
        Fail("reg add " + key + " " + name + " failed: " + out);
}

void DeleteRegistry(const std::string &key, const std::string &name)
{
    Start();
    RunWineTool({"reg", "delete", key, "/v", name, "/f"}, 30000);
}

}  // namespace winebed
