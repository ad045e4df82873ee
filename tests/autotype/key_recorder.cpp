// Another program on the display: a window that takes the keyboard focus and appends the
// character of every key pressed in it, as UTF-8, to a file. It reads its keyboard table as
// ordinary Xlib programs do, refreshed when the server says it changed.
// Usage: key_recorder FILE   (prints "ready" once it has the focus; runs until killed)
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cstdio>
#include <string>

namespace {

std::string Utf8(unsigned long code)
{
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

// The character of a key symbol; empty for keys without one (modifiers).
std::string CharacterOf(KeySym keysym)
{
    if (keysym == XK_Return)
        return "\n";
    if (keysym == XK_Tab)
        return "\t";
    if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF))
        return Utf8(keysym);
    if ((keysym & 0xFF000000) == 0x01000000)
        return Utf8(keysym & 0x00FFFFFF);
    if (keysym == XK_EuroSign)
        return Utf8(0x20AC);
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 300, 80, 0, 0,
                                        WhitePixel(display, DefaultScreen(display)));
    XStoreName(display, window, "key recorder");
    XSelectInput(display, window, KeyPressMask | StructureNotifyMask);
    XMapRaised(display, window);
    XEvent event;
    do
        XNextEvent(display, &event);
    while (event.type != MapNotify);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);

    for (;;) {
        XNextEvent(display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
        } else if (event.type == KeyPress) {
            char bytes[16];
            KeySym keysym = NoSymbol;
            XLookupString(&event.xkey, bytes, sizeof bytes, &keysym, nullptr);
            std::string character = CharacterOf(keysym);
            if (character.empty())
                continue;
            if (FILE* file = std::fopen(argv[1], "ab")) {
                std::fwrite(character.data(), 1, character.size(), file);
                std::fclose(file);
            }
        }
    }
}
