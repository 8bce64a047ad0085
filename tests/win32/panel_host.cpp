// Drives the real control panel of the real DLL as a user would, in a real
// Win32 runtime: loads dsp_quorvane.dll as a media player does, feeds it
// audio, and clicks, drags and types in the panel with the messages the
// controls themselves send.
//
//   quorvane_panel_host CASE MODULE.dll [--shot]
//
// The fp_modes case writes a process file with the core's own writer; the
// module itself is only ever reached through its export.
//
// Every case runs from its own directory holding a copy of this program: the
// host's directory is where the module keeps the INI file and the process
// files. With --shot, the "open" case writes panel_ready.txt (the panel's
// screen rectangle) and waits for shot_done.txt while the panel stays up, so
// that the driver can take a screenshot.
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/dsp_records.h"
#include "settings/process_file.h"
#include "settings/startup.h"
#include "tests/host_fp_env.h"

namespace {

int g_failures = 0;

__attribute__((format(printf, 2, 3))) void check(bool ok, const char* fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    std::printf("%s: ", ok ? "ok" : "FAIL");
    std::vprintf(fmt, ap);
    std::printf("\n");
    std::fflush(stdout);
    va_end(ap);
    if (!ok) ++g_failures;
}

// ---------------------------------------------------------------------------
// The host's directory, its INI file and process files.

std::string g_dir;  // with a trailing separator

void find_own_directory() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n);
    g_dir = p.substr(0, p.find_last_of("\\/") + 1);
}

std::string in_dir(const char* name) { return g_dir + name; }

constexpr char kSection[] = "Quorvane2";

int ini_int(const char* key, int def) {
    return static_cast<int>(GetPrivateProfileIntA(kSection, key, def, in_dir("winamp.ini").c_str()));
}

bool ini_has(const char* key) { return ini_int(key, -12345) != -12345; }

void ini_set(const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA(kSection, key, text, in_dir("winamp.ini").c_str());
}

std::vector<unsigned char> read_file(const std::string& path) {
    std::vector<unsigned char> data;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
        std::fclose(f);
    }
    return data;
}

bool file_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---------------------------------------------------------------------------
// The module, loaded as the media player loads it.

struct Plugin {
    HMODULE lib = nullptr;
    DspModule* module = nullptr;
    const char* description = nullptr;
};

HWND g_parent = nullptr;  // the player's main window: owns the module's windows
const char* g_dll_path = nullptr;

Plugin load_plugin() {
    Plugin p;
    p.lib = LoadLibraryA(g_dll_path);
    if (!p.lib) return p;
    auto get_header =
        reinterpret_cast<DspGetHeaderFn>(reinterpret_cast<void*>(GetProcAddress(p.lib, QUORVANE_EXPORT_NAME)));
    if (!get_header) return p;
    DspHeader* header = get_header();
    p.description = header->description;
    p.module = header->get_module(0);
    if (p.module) {
        p.module->parent_window = g_parent;
        p.module->instance = p.lib;
    }
    return p;
}

// Init as the player does it; false when the module cannot be loaded.
bool start(Plugin& p) {
    p = load_plugin();
    check(p.module != nullptr, "module loads and offers module 0");
    if (!p.module) return false;
    check(p.module->Init(p.module) == 0, "Init returns 0");
    return true;
}

void stop(Plugin& p) {
    if (!p.module) return;
    p.module->Quit(p.module);
    FreeLibrary(p.lib);
    p = Plugin{};
}

// ---------------------------------------------------------------------------
// Windows of the module on this thread, and the message loop.

struct Windows {
    HWND panel = nullptr;
    HWND about = nullptr;
};

BOOL CALLBACK collect_dialog(HWND w, LPARAM lp) {
    char cls[16] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") != 0) return TRUE;
    auto* found = reinterpret_cast<Windows*>(lp);
    // The panel is the dialog with the scale label 1065; the about window has
    // no addressed control.
    if (GetDlgItem(w, 1065))
        found->panel = w;
    else
        found->about = w;
    return TRUE;
}

Windows module_windows() {
    Windows found;
    EnumThreadWindows(GetCurrentThreadId(), collect_dialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

void dispatch(MSG& msg) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

// Runs the message loop until the panel has handled `ticks` timer messages.
// False when they do not come within a generous deadline.
bool run_ticks(HWND panel, int ticks) {
    const DWORD start = GetTickCount();
    const DWORD limit = 5000 + 500 * static_cast<DWORD>(ticks);
    int seen = 0;
    MSG msg;
    while (seen < ticks) {
        if (GetTickCount() - start > limit) return false;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            continue;
        }
        if (msg.message == WM_TIMER && msg.hwnd == panel) ++seen;
        dispatch(msg);
    }
    return true;
}

// Runs the message loop for a while (redraws, timers).
void run_for(DWORD ms) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < ms) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            dispatch(msg);
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

std::string window_text(HWND w) {
    char buf[512] = "";
    GetWindowTextA(w, buf, sizeof buf);
    return buf;
}

std::string item_text(HWND panel, int id) {
    char buf[512] = "";
    GetDlgItemTextA(panel, id, buf, sizeof buf);
    return buf;
}

// A user drags a trackbar's thumb to pos and lets it go: the trackbar moves
// and notifies its dialog with WM_VSCROLL (its handle in lParam).
void drag_slider(HWND panel, int id, int pos) {
    HWND tb = GetDlgItem(panel, id);
    SendMessageA(tb, TBM_SETPOS, TRUE, pos);
    SendMessageA(panel, WM_VSCROLL, MAKEWPARAM(TB_THUMBTRACK, pos), reinterpret_cast<LPARAM>(tb));
    SendMessageA(panel, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(tb));
}

// The number a value label starts with.
int label_value(HWND panel, int id) { return std::atoi(item_text(panel, id).c_str()); }

void click(HWND panel, int id) { SendMessageA(GetDlgItem(panel, id), BM_CLICK, 0, 0); }

bool checked(HWND panel, int id) { return IsDlgButtonChecked(panel, id) == BST_CHECKED; }

// Selects the edit's text and types over it, character by character.
void type_into(HWND panel, int id, const char* text) {
    HWND edit = GetDlgItem(panel, id);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (const char* c = text; *c; ++c) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(*c), 1);
}

RECT window_rect(HWND w) {
    RECT r = {0, 0, 0, 0};
    GetWindowRect(w, &r);
    return r;
}

RECT desktop() {
    RECT r = {0, 0, 0, 0};
    GetClientRect(GetDesktopWindow(), &r);
    return r;
}

// ---------------------------------------------------------------------------
// Audio.

// Stereo triangle of freq_hz at the given peak, integer arithmetic only.
struct Tone {
    std::uint32_t phase = 0;
    short next(std::uint32_t freq_hz, int peak) {
        phase += static_cast<std::uint32_t>((static_cast<std::uint64_t>(freq_hz) << 32) / 44100);
        const int p = static_cast<int>(phase >> 16);
        const int v = p < 32768 ? 2 * p - 32768 : 2 * (65535 - p) - 32767;
        return static_cast<short>(v * peak / 32768);
    }
};

// Plays frames of a tone (peak 0: silence) and returns the output, stereo.
std::vector<short> play(Plugin& p, Tone& tone, int frames, int peak, int block = 441) {
    std::vector<short> out;
    std::vector<short> buf(2 * block);
    for (int f = 0; f < frames; f += block) {
        const int n = frames - f < block ? frames - f : block;
        for (int i = 0; i < n; ++i) buf[2 * i] = buf[2 * i + 1] = peak ? tone.next(1000, peak) : 0;
        p.module->ModifySamples(p.module, buf.data(), n, 16, 2, 44100);
        out.insert(out.end(), buf.begin(), buf.begin() + 2 * n);
    }
    return out;
}

int peak_of(const std::vector<short>& v, size_t from = 0) {
    int m = 0;
    for (size_t i = from; i < v.size(); ++i) m = std::max(m, std::abs(static_cast<int>(v[i])));
    return m;
}

std::string padded_title(const char* description) { return std::string(description) + std::string(50, ' '); }

std::string format_warning() {
    std::string t = "Quorvane 2.0a";
    t.resize(45, ' ');
    return t + "Sample rate or resolution is wrong, use 44.1KHz 16bits. Process stopped";
}

// ---------------------------------------------------------------------------
// The cases.

// Waits, with the panel up, for the driver's screenshot.
void offer_screenshot(HWND panel) {
    RECT r = window_rect(panel);
    const std::string ready = in_dir("panel_ready.txt"), done = in_dir("shot_done.txt");
    if (std::FILE* f = std::fopen((ready + ".tmp").c_str(), "w")) {
        std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        std::fclose(f);
        MoveFileExA((ready + ".tmp").c_str(), ready.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    const DWORD start = GetTickCount();
    while (!file_exists(done) && GetTickCount() - start < 30000) run_for(100);
    check(file_exists(done), "screenshot taken while the panel was up");
}

// Init with the INI saying the panel was open: the panel opens, filled.
void case_open(bool shot) {
    ini_set("Visible", 1);
    Plugin p;
    if (!start(p)) return;
    Windows w = module_windows();
    check(w.panel != nullptr && IsWindowVisible(w.panel), "Init with Visible 1 opens the panel");
    check(w.about != nullptr && !IsWindowVisible(w.about), "the about window exists and is hidden");
    if (!w.panel) return stop(p);
    check(window_text(w.panel) == padded_title(p.description), "title is the description followed by 50 blanks");
    check(item_text(w.panel, 1065) == "+25dB", "label 1065 reads \"+25dB\" (got \"%s\")",
          item_text(w.panel, 1065).c_str());
    check(GetParent(w.panel) == g_parent || GetWindow(w.panel, GW_OWNER) == g_parent,
          "the panel is owned by the player");
    check(checked(w.panel, 1074) && checked(w.panel, 1087) && checked(w.panel, 1080),
          "CFG 1074, Compressor 1087 and CFG 1080 are checked");
    check(run_ticks(w.panel, 3), "the panel's 100 ms timer runs");
    if (shot) {
        Tone tone;
        // Programme for the meters, with the loop running so they move.
        for (int i = 0; i < 20; ++i) {
            play(p, tone, 2205, 12000 + 800 * i);
            run_for(20);
        }
        run_ticks(w.panel, 2);
        offer_screenshot(w.panel);
    }
    stop(p);
    check(ini_int("Visible", -1) == 1 && ini_int("Minimized", -1) == 0 && ini_int("ProcessNumber", -1) == 0,
          "Quit writes ProcessNumber 0, Visible 1, Minimized 0");
    check(ini_has("pos_x") && ini_has("pos_y"), "Quit with the panel open stores its position");
    check(module_windows().panel == nullptr && module_windows().about == nullptr, "Quit destroys both windows");
}

// Visible 0: no panel until Config; Config once more changes nothing.
void case_config() {
    ini_set("Visible", 0);
    Plugin p;
    if (!start(p)) return;
    Windows w = module_windows();
    check(w.panel == nullptr, "Init with Visible 0 creates no panel");
    check(w.about != nullptr && !IsWindowVisible(w.about), "the hidden about window exists");
    p.module->Config(p.module);
    w = module_windows();
    check(w.panel != nullptr && IsWindowVisible(w.panel), "Config creates and shows the panel");
    if (!w.panel) return stop(p);
    // Move it so that a second Config that re-placed it would show.
    SetWindowPos(w.panel, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RECT before = window_rect(w.panel);
    p.module->Config(p.module);
    Windows again = module_windows();
    RECT after = window_rect(w.panel);
    check(again.panel == w.panel && before.left == after.left && before.top == after.top,
          "a second Config keeps the same panel where it is");
    stop(p);
    check(ini_int("Visible", -1) == 1, "Quit after Config writes Visible 1");
    check(ini_int("pos_x", -1) == 123 && ini_int("pos_y", -1) == 77, "the moved position is stored (123, 77)");
}

// A slider drag changes its label and the sound. Like the cases after it, it
// starts with no INI file at all, so the panel opens (Visible defaults to 1).
void case_slider() {
    Plugin p;
    if (!start(p)) return;
    HWND panel = module_windows().panel;
    check(panel != nullptr, "panel open");
    if (!panel) return stop(p);
    Tone tone;
    std::vector<short> out = play(p, tone, 88200, 10000);  // 2 s for the gains to settle
    const int full = peak_of(out, out.size() - 2 * 4410);
    // The value label shows the level as a number (a unit may follow it).
    check(label_value(panel, 1093) == 100, "OUT LEV %% label shows 100 (\"%s\")", item_text(panel, 1093).c_str());

    drag_slider(panel, 1094, 50);
    check(label_value(panel, 1093) == 50, "dragging OUT LEV %% to 50 rewrites label 1093 (\"%s\")",
          item_text(panel, 1093).c_str());
    out = play(p, tone, 4410, 10000);
    const int half = peak_of(out);
    check(full > 1000 && half * 100 > full * 40 && half * 100 < full * 60,
          "the output peak follows the level: %d at 100 %%, %d at 50 %%", full, half);

    drag_slider(panel, 1094, 0);
    out = play(p, tone, 4410, 10000);
    check(label_value(panel, 1093) == 0 && peak_of(out) == 0, "OUT LEV %% at 0 gives digital silence");
    stop(p);
}

// Test Tone on silence: after the fade, a 314-frame periodic tone near full scale.
void case_test_tone() {
    Plugin p;
    if (!start(p)) return;
    HWND panel = module_windows().panel;
    check(panel != nullptr, "panel open");
    if (!panel) return stop(p);
    click(panel, 1029);
    check(checked(panel, 1029), "clicking Test Tone checks it");
    Tone silent;
    const int fade = 1000, period = 314;
    std::vector<short> out = play(p, silent, fade + 4 * period, 0, 157);
    bool periodic = true;
    for (int f = fade; f + period < fade + 4 * period; ++f)
        for (int c = 0; c < 2; ++c) periodic = periodic && out[2 * f + c] == out[2 * (f + period) + c];
    const int peak = peak_of(out, 2 * fade);
    check(periodic, "after the 1000-frame fade the output repeats every 314 frames");
    check(peak >= 30000 && peak <= 32760, "the tone peaks near 32760 (peak %d)", peak);
    check(out[2 * fade] == out[2 * fade + 1], "both channels carry the tone");
    click(panel, 1029);
    out = play(p, silent, 2000, 0);
    check(!checked(panel, 1029) && peak_of(out, 2 * 1500) < 200, "a second click fades the tone out");
    stop(p);
}

// A block in a format the chain refuses puts the warning in the title on the
// next tick; an accepted block restores the description on the next tick.
void case_format() {
    Plugin p;
    if (!start(p)) return;
    HWND panel = module_windows().panel;
    check(panel != nullptr, "panel open");
    if (!panel) return stop(p);
    check(run_ticks(panel, 2), "ticks run");
    std::vector<short> block(2 * 441, 1000);
    const std::vector<short> copy = block;
    check(p.module->ModifySamples(p.module, block.data(), 441, 8, 2, 44100) == 441 && block == copy,
          "an 8-bit block passes untouched");
    check(run_ticks(panel, 1), "one tick");
    const std::string warning = format_warning();
    check(window_text(panel) == warning && warning.size() == 116, "the title shows the 116-character warning");
    check(run_ticks(panel, 2) && window_text(panel) == warning, "later ticks leave the warning");
    p.module->ModifySamples(p.module, block.data(), 441, 16, 2, 44100);
    check(run_ticks(panel, 1), "one tick");
    check(window_text(panel) == p.description, "an accepted block restores the description on the next tick");
    stop(p);
}

// Browsing to a missing number shows EMPTY; a typed name and Save write the file.
void case_save() {
    Plugin p;
    if (!start(p)) return;
    HWND panel = module_windows().panel;
    check(panel != nullptr, "panel open");
    if (!panel) return stop(p);
    check(item_text(panel, 1123) == "0" && item_text(panel, 1125) == "DEFAULT", "process 0 \"DEFAULT\" is on air");
    check(file_exists(in_dir("qv$0.dat")), "the startup load wrote qv$0.dat");
    click(panel, 1127);
    check(item_text(panel, 1123) == "1" && item_text(panel, 1121) == "EMPTY", "\"+\" browses to 1 and shows EMPTY");
    click(panel, 1127);
    click(panel, 1127);
    check(item_text(panel, 1123) == "3" && item_text(panel, 1121) == "EMPTY", "two more: 3, EMPTY");
    check(!file_exists(in_dir("qv$3.dat")), "browsing writes nothing");
    type_into(panel, 1121, "late show");
    check(item_text(panel, 1121) == "LATE SHOW", "typed letters become capitals (got \"%s\")",
          item_text(panel, 1121).c_str());
    click(panel, 1101);
    const std::vector<unsigned char> file = read_file(in_dir("qv$3.dat"));
    check(file.size() == 18418, "Save writes qv$3.dat, 18418 bytes (got %u)", static_cast<unsigned>(file.size()));
    check(file.size() == 18418 && std::memcmp(file.data() + 17402, "LATE SHOW", 10) == 0,
          "the file holds the typed name");
    check(item_text(panel, 1125) == "LATE SHOW", "the on-air label shows the saved name");
    click(panel, 1128);
    click(panel, 1127);
    check(item_text(panel, 1121) == "LATE SHOW", "browsing back to 3 stages the saved name");
    SetFileAttributesA(in_dir("qv$3.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    type_into(panel, 1121, "other");
    click(panel, 1101);
    check(read_file(in_dir("qv$3.dat")) == file, "Save leaves a read-only qv$3.dat as it was");
    SetFileAttributesA(in_dir("qv$3.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    stop(p);
    check(ini_int("ProcessNumber", -1) == 3, "Quit writes ProcessNumber 3, the saved number");
}

// Holding "+" repeats after six ticks; letting go stops it.
void case_hold() {
    Plugin p;
    if (!start(p)) return;
    HWND panel = module_windows().panel;
    check(panel != nullptr, "panel open");
    if (!panel) return stop(p);
    check(run_ticks(panel, 2), "ticks run with nothing held");
    HWND plus = GetDlgItem(panel, 1127);
    SendMessageA(plus, BM_SETSTATE, TRUE, 0);
    check((SendMessageA(plus, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0, "BM_SETSTATE TRUE holds \"+\" down");
    bool ran = run_ticks(panel, 6);
    check(ran && item_text(panel, 1123) == "0", "six ticks held: still 0 (initial delay)");
    ran = run_ticks(panel, 1);
    check(ran && item_text(panel, 1123) == "1", "seventh tick: a step of 1 (got %s)", item_text(panel, 1123).c_str());
    ran = run_ticks(panel, 2);
    check(ran && item_text(panel, 1123) == "5", "two more ticks: steps of 2 give 5 (got %s)",
          item_text(panel, 1123).c_str());
    check(item_text(panel, 1121) == "EMPTY", "each step stages the number: EMPTY");
    SendMessageA(plus, BM_SETSTATE, FALSE, 0);
    check(run_ticks(panel, 4) && item_text(panel, 1123) == "5", "released: no more steps");
    stop(p);
}

// Closing the panel: position stored, Visible 0 at Quit, about hidden too.
void case_close() {
    Plugin p;
    if (!start(p)) return;
    Windows w = module_windows();
    check(w.panel != nullptr, "panel open");
    if (!w.panel) return stop(p);
    click(w.panel, 1090);
    check(w.about && IsWindowVisible(w.about), "the About button shows the about window");
    SetWindowPos(w.panel, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SendMessageA(w.panel, WM_SYSCOMMAND, SC_CLOSE, 0);
    check(!IsWindow(w.panel), "the close box destroys the panel");
    check(IsWindow(w.about) && !IsWindowVisible(w.about), "closing the panel hides the about window");
    check(ini_int("pos_x", -1) == 200 && ini_int("pos_y", -1) == 150, "closing stores the position (200, 150)");
    Tone tone;
    check(peak_of(play(p, tone, 4410, 8000)) > 0, "the audio runs with the panel closed");
    stop(p);
    check(ini_int("Visible", -1) == 0, "Quit after the close writes Visible 0");

    if (!start(p)) return;
    check(module_windows().panel == nullptr, "the next start begins with the panel closed");
    p.module->Config(p.module);
    w = module_windows();
    RECT r = window_rect(w.panel);
    check(w.panel && IsWindowVisible(w.panel) && r.left == 200 && r.top == 150,
          "Config reopens it where it was closed (%ld, %ld)", r.left, r.top);
    stop(p);
    check(ini_int("Visible", -1) == 1, "and Quit then writes Visible 1");
}

// Minimise and Quit: the next Init opens the panel minimised; restoring clears
// the flag and shows the panel where it stood before it was minimised (the
// icon's place is not a position of the panel).
void case_minimize() {
    ini_set("pos_x", 300);
    ini_set("pos_y", 200);
    Plugin p;
    if (!start(p)) return;
    HWND panel = module_windows().panel;
    check(panel != nullptr, "panel open");
    if (!panel) return stop(p);
    SendMessageA(panel, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    run_for(100);
    check(IsIconic(panel) != FALSE, "the minimise command minimises the panel");
    stop(p);
    check(ini_int("Visible", -1) == 1 && ini_int("Minimized", -1) == 1, "Quit writes Visible 1, Minimized 1");
    check(ini_int("pos_x", -1) == 300 && ini_int("pos_y", -1) == 200,
          "Quit while minimised stores the place the panel stood (got %d, %d)", ini_int("pos_x", -1),
          ini_int("pos_y", -1));

    if (!start(p)) return;
    panel = module_windows().panel;
    check(panel && IsWindowVisible(panel) && IsIconic(panel), "the next Init opens the panel minimised");
    if (panel) {
        SendMessageA(panel, WM_SYSCOMMAND, SC_RESTORE, 0);
        run_for(100);
        check(!IsIconic(panel), "the restore command restores it");
        const RECT r = window_rect(panel);
        check(r.left == 300 && r.top == 200, "restored where it stood (got %ld, %ld)", r.left, r.top);
    }
    stop(p);
    check(ini_int("Minimized", -1) == 0, "after a restore Quit writes Minimized 0");
    check(ini_int("pos_x", -1) == 300 && ini_int("pos_y", -1) == 200, "and the position is still (300, 200)");
}

// Stored positions are restored, clamped to the desktop; a move is stored.
void case_position() {
    const RECT d = desktop();
    check(d.right > d.left && d.bottom > d.top, "desktop %ld x %ld", d.right, d.bottom);
    struct Place {
        int x, y;
    };
    const Place stored[] = {{2000, 900}, {-100, -100}, {40, 60}};
    for (const Place& s : stored) {
        ini_set("pos_x", s.x);
        ini_set("pos_y", s.y);
        const int x = std::min<int>(std::max<int>(s.x, d.left - 64), d.right - 32);
        const int y = std::min<int>(std::max<int>(s.y, d.top - 32), d.bottom - 32);
        Plugin p;
        if (!start(p)) return;
        HWND panel = module_windows().panel;
        RECT r = window_rect(panel);
        check(panel && r.left == x && r.top == y, "stored (%d, %d) opens at (%d, %d) (got %ld, %ld)", s.x, s.y, x, y,
              r.left, r.top);
        stop(p);
        check(ini_int("pos_x", 0) == x && ini_int("pos_y", 0) == y, "Quit writes the clamped (%d, %d)", x, y);
    }
    Plugin p;
    if (!start(p)) return;
    HWND panel = module_windows().panel;
    if (panel) SetWindowPos(panel, nullptr, 500, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    stop(p);
    check(ini_int("pos_x", 0) == 500 && ini_int("pos_y", 0) == 300, "a panel moved to (500, 300) stores it");
    if (!start(p)) return;
    RECT r = window_rect(module_windows().panel);
    check(r.left == 500 && r.top == 300, "and the next start opens it there");
    stop(p);
}

// The about window: its close box hides it, the About button shows it again in place.
void case_about() {
    Plugin p;
    if (!start(p)) return;
    Windows w = module_windows();
    check(w.panel && w.about, "panel and about window exist");
    if (!w.panel || !w.about) return stop(p);
    click(w.panel, 1090);
    check(IsWindowVisible(w.about) != FALSE, "About shows the about window");
    HWND picture = GetWindow(w.about, GW_CHILD);
    RECT pr = window_rect(picture);
    check(picture && pr.right - pr.left > 500 && pr.bottom - pr.top > 100, "it shows the picture (%ld x %ld)",
          pr.right - pr.left, pr.bottom - pr.top);
    const RECT d = desktop(), a = window_rect(w.about);
    const long dx = (a.left + a.right) / 2 - (d.left + d.right) / 2,
               dy = (a.top + a.bottom) / 2 - (d.top + d.bottom) / 2;
    check(dx >= -2 && dx <= 2 && dy >= -2 && dy <= 2, "the about window starts centred on the screen (off by %ld, %ld)",
          dx, dy);
    SetWindowPos(w.about, nullptr, 60, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SendMessageA(w.about, WM_SYSCOMMAND, SC_CLOSE, 0);
    run_for(50);
    check(IsWindow(w.about) && !IsWindowVisible(w.about), "its close box hides it without destroying it");
    click(w.panel, 1090);
    RECT r = window_rect(w.about);
    check(IsWindowVisible(w.about) && r.left == 60 && r.top == 40, "About shows it again at the same place");
    stop(p);
}

// The player's playback thread feeds blocks while the user works the panel:
// the level meters follow the audio and fall back after it stops.
struct Playback {
    Plugin* plugin;
    volatile LONG stop;
    LONG blocks;
};

DWORD WINAPI playback_thread(void* arg) {
    auto* pb = static_cast<Playback*>(arg);
    Tone tone;
    while (!pb->stop) {
        play(*pb->plugin, tone, 576, 12000, 576);
        InterlockedIncrement(&pb->blocks);
        Sleep(13);  // about real time: 576 frames are 13 ms
    }
    return 0;
}

int meter(HWND panel, int id) { return static_cast<int>(SendDlgItemMessageA(panel, id, PBM_GETPOS, 0, 0)); }

void case_playback() {
    Plugin p;
    if (!start(p)) return;
    HWND panel = module_windows().panel;
    check(panel != nullptr, "panel open");
    if (!panel) return stop(p);
    Playback pb{&p, 0, 0};
    HANDLE thread = CreateThread(nullptr, 0, playback_thread, &pb, 0, nullptr);
    run_ticks(panel, 3);
    const int slider_ids[] = {1003, 1169, 1024, 1064, 1111, 1094, 1042};
    for (int round = 0; round < 3; ++round) {
        for (int id : slider_ids) {
            HWND tb = GetDlgItem(panel, id);
            const int lo = static_cast<int>(SendMessageA(tb, TBM_GETRANGEMIN, 0, 0));
            const int hi = static_cast<int>(SendMessageA(tb, TBM_GETRANGEMAX, 0, 0));
            drag_slider(panel, id, lo + (hi - lo) * (round + 1) / 4);
        }
        click(panel, 1075 + round);      // another band's CFG
        click(panel, 1088 + round % 2);  // Expander, Limiter
        run_ticks(panel, 2);
    }
    drag_slider(panel, 1094, 100);
    run_ticks(panel, 3);
    const int in_playing = meter(panel, 1031), out_playing = meter(panel, 1059);
    check(in_playing > 8000 && out_playing > 1000, "IN and OUT meters follow the playback (%d, %d)", in_playing,
          out_playing);
    InterlockedExchange(&pb.stop, 1);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    check(pb.blocks > 20, "the playback thread ran alongside (%ld blocks)", pb.blocks);
    run_ticks(panel, 10);
    const int in_after = meter(panel, 1031);
    check(in_after < in_playing * 7 / 10, "the IN meter falls after the audio stops (%d -> %d)", in_playing, in_after);
    stop(p);
}

// A host that hands the module a wrong instance handle: the templates cannot
// be found, no window is made, and the module still starts, plays and stops.
void case_no_templates() {
    Plugin p = load_plugin();
    check(p.module != nullptr, "module loads");
    if (!p.module) return;
    p.module->instance = GetModuleHandleA(nullptr);  // the host's own module: no dialog templates
    check(p.module->Init(p.module) == 0, "Init returns 0 although the panel cannot be created");
    check(module_windows().panel == nullptr && module_windows().about == nullptr, "no window exists");
    Tone tone;
    check(peak_of(play(p, tone, 4410, 8000)) > 0, "the audio runs");
    p.module->Config(p.module);
    check(module_windows().panel == nullptr, "Config cannot open it either, and nothing breaks");
    stop(p);
    check(ini_int("Visible", -1) == 1 && !ini_has("pos_x"), "Quit writes the keys, no position");
}

// The player destroys its window, the owner of the module's windows, before
// Quit: both windows go with it, Config opens a working panel again (the
// module record still names the dead window) and Quit runs clean.
void case_parent_destroyed() {
    HWND owner = CreateWindowExA(0, "STATIC", "player window", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    const HWND host_parent = g_parent;
    g_parent = owner;
    Plugin p;
    if (!start(p)) return;
    Windows w = module_windows();
    check(w.panel && GetWindow(w.panel, GW_OWNER) == owner, "the panel is owned by the player's window");
    if (!w.panel) return stop(p);
    SetWindowPos(w.panel, nullptr, 260, 180, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    DestroyWindow(owner);
    check(!IsWindow(w.panel) && !IsWindow(w.about), "destroying the player's window destroys both windows");
    check(ini_int("pos_x", -1) == 260 && ini_int("pos_y", -1) == 180, "the panel's place is stored as it goes");

    p.module->Config(p.module);
    Windows again = module_windows();
    check(again.panel && IsWindowVisible(again.panel), "Config opens the panel again");
    if (again.panel) {
        const RECT r = window_rect(again.panel);
        check(r.left == 260 && r.top == 180, "where it stood (%ld, %ld)", r.left, r.top);
        check(run_ticks(again.panel, 2), "its timer runs");
        drag_slider(again.panel, 1094, 50);
        check(label_value(again.panel, 1093) == 50, "its sliders answer");
        click(again.panel, 1090);
        check(again.about && again.about != w.about && IsWindowVisible(again.about), "About shows a new about window");
    }
    stop(p);
    check(module_windows().panel == nullptr && module_windows().about == nullptr, "Quit destroys both windows");
    check(ini_int("Visible", -1) == 1, "Quit writes Visible 1");
    g_parent = host_parent;
}

// A host that frees the module without Quit while its panel is open: the
// module pinned itself when it made its first window, so the panel's timer
// and controls still reach mapped code.
void case_unload_without_quit() {
    ini_set("Visible", 0);
    Plugin p;
    if (!start(p)) return;
    p.module->Config(p.module);
    HWND panel = module_windows().panel;
    check(panel != nullptr, "Config opens the panel");
    if (!panel) return stop(p);
    char path[MAX_PATH] = "";
    GetModuleFileNameA(p.lib, path, MAX_PATH);
    check(FreeLibrary(p.lib) != FALSE, "FreeLibrary without Quit");
    check(GetModuleHandleA(path) == p.lib, "the module stays loaded");
    p = Plugin{};
    check(run_ticks(panel, 3), "the panel's timer still runs");
    drag_slider(panel, 1094, 40);
    check(label_value(panel, 1093) == 40, "a slider still answers");
    SendMessageA(panel, WM_SYSCOMMAND, SC_CLOSE, 0);
    check(!IsWindow(panel), "the close box still closes it");
}

// The same session in each floating-point environment of tests/host_fp_env.h,
// each from a fresh copy of the module (so from a fresh static instance):
// Init with the panel closed and programme in blocks, Config, slider drags, a
// High Q click and a meter tick, process 1 browsed and loaded, Quit. Every
// call into the module, the loading included, and every message sent to its
// panel is made in the environment (the trackbar and button states are set
// outside it: those are the platform's controls, not the module's). The
// samples must be those of the default environment, nothing may trap, and
// every call must give the environment back.
void case_fp_modes() {
    qv::ProcessParams stored;
    qv::fill_defaults(stored);
    stored.global.bass_eq_gain_db = 9;
    stored.global.bass_eq_freq_hz = 72;
    stored.global.option_flags |= qv::option::bass_eq_shelving | qv::option::track_rms | qv::option::input_lpf_15k;
    stored.global.preemphasis_on = 1;
    check(qv::write_process_file(in_dir("qv$1.dat").c_str(), stored), "process 1 written");
    constexpr int kFrames = 44100, kBlock = 441;
    std::vector<short> input(2 * kFrames);
    Tone bass_l, bass_r, mid, high;
    std::uint32_t noise = 1;
    for (int f = 0; f < kFrames; ++f) {
        noise = noise * 1664525u + 1013904223u;
        const int ride = 4000 + (f % 33075) * 8000 / 33075;
        const int n = static_cast<int>(noise >> 20) - 2048;
        input[2 * f] = static_cast<short>(bass_l.next(55, ride) + mid.next(440, ride / 2) + n);
        input[2 * f + 1] = static_cast<short>(bass_r.next(55, ride) + high.next(6300, ride / 4) - n);
    }
    const int sliders[] = {1007, 1070, 1000, 1024, 1169, 1003, 1094};

    // The module imports the common controls; their first load, and the modes
    // it leaves, are the platform's (a player has them loaded already).
    LoadLibraryA("comctl32.dll");
    const auto envs = qv::test::host_fp_envs();
    std::vector<short> reference;
    for (std::size_t e = 0; e < envs.size(); ++e) {
        qv::test::HostFpCaller call(envs[e]);
        ini_set("Visible", 0);
        ini_set("ProcessNumber", 0);
        char name[32];
        std::snprintf(name, sizeof name, "dsp_quorvane_fp%u.dll", static_cast<unsigned>(e));
        const std::string copy = in_dir(name);
        CopyFileA(g_dll_path, copy.c_str(), FALSE);
        const HMODULE lib = call([&] { return LoadLibraryA(copy.c_str()); });
        const auto get_header =
            lib ? reinterpret_cast<DspGetHeaderFn>(reinterpret_cast<void*>(GetProcAddress(lib, QUORVANE_EXPORT_NAME)))
                : nullptr;
        DspModule* m = get_header ? call([&] { return get_header()->get_module(0); }) : nullptr;
        if (!m) {
            check(false, "%s: module %s loads", envs[e].name.c_str(), name);
            continue;
        }
        m->parent_window = g_parent;
        m->instance = lib;

        std::vector<short> out = input;
        int at = 0;
        const auto play = [&](int until) {
            for (; at < until; at += kBlock)
                call([&] { return m->ModifySamples(m, out.data() + 2 * at, kBlock, 16, 2, 44100); });
        };
        const auto send = [&](HWND w, UINT msg, WPARAM wp, LPARAM lp) {
            call([&] { return SendMessageA(w, msg, wp, lp); });
        };
        call([&] { return m->Init(m); });
        play(kFrames / 4);
        call([&] { m->Config(m); });
        const HWND panel = module_windows().panel;
        if (!panel) {
            check(false, "%s: Config opens the panel", envs[e].name.c_str());
            continue;
        }
        play(kFrames / 2);
        for (int id : sliders) {
            const HWND tb = GetDlgItem(panel, id);
            const auto lo = SendMessageA(tb, TBM_GETRANGEMIN, 0, 0), hi = SendMessageA(tb, TBM_GETRANGEMAX, 0, 0);
            const auto pos = (lo + 3 * hi) / 4;
            SendMessageA(tb, TBM_SETPOS, TRUE, pos);
            send(panel, WM_VSCROLL, MAKEWPARAM(TB_THUMBTRACK, pos), reinterpret_cast<LPARAM>(tb));
            send(panel, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(tb));
        }
        const HWND high_q = GetDlgItem(panel, 1138);
        SendMessageA(high_q, BM_SETCHECK, checked(panel, 1138) ? BST_UNCHECKED : BST_CHECKED, 0);
        send(panel, WM_COMMAND, MAKEWPARAM(1138, BN_CLICKED), reinterpret_cast<LPARAM>(high_q));
        send(panel, WM_TIMER, 1, 0);
        play(3 * kFrames / 4);
        for (int id : {1127, 1102})  // "+" stages process 1, Load puts it on air
            send(panel, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(panel, id)));
        play(kFrames);
        call([&] { m->Quit(m); });
        call([&] { return FreeLibrary(lib); });
        const bool loaded = ini_int("ProcessNumber", -1) == 1;  // what Quit stores is the process on air

        if (e == 0) reference = out;
        long differ = 0;
        for (std::size_t i = 0; i < out.size(); ++i) differ += out[i] != reference[i];
        check(loaded && differ == 0 && call.changed() == 0,
              "%s: process 1 loaded, %ld of %u samples differ from the default environment's, %ld of %ld calls "
              "changed the environment%s%s",
              envs[e].name.c_str(), differ, static_cast<unsigned>(out.size()), call.changed(), call.calls(),
              call.changed() ? "; first left " : "", call.first_change().c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorvane_panel_host CASE MODULE.dll [--shot]\n");
        return 2;
    }
    const std::string which = argv[1];
    g_dll_path = argv[2];
    const bool shot = argc > 3 && std::strcmp(argv[3], "--shot") == 0;
    find_own_directory();
    g_parent = CreateWindowExA(0, "STATIC", "Quorvane test host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);

    if (which == "open")
        case_open(shot);
    else if (which == "config")
        case_config();
    else if (which == "slider")
        case_slider();
    else if (which == "test_tone")
        case_test_tone();
    else if (which == "format")
        case_format();
    else if (which == "save")
        case_save();
    else if (which == "hold")
        case_hold();
    else if (which == "close")
        case_close();
    else if (which == "minimize")
        case_minimize();
    else if (which == "position")
        case_position();
    else if (which == "about")
        case_about();
    else if (which == "no_templates")
        case_no_templates();
    else if (which == "playback")
        case_playback();
    else if (which == "parent_destroyed")
        case_parent_destroyed();
    else if (which == "unload_without_quit")
        case_unload_without_quit();
    else if (which == "fp_modes")
        case_fp_modes();
    else {
        std::fprintf(stderr, "unknown case %s\n", which.c_str());
        return 2;
    }
    DestroyWindow(g_parent);
    std::printf("%d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
