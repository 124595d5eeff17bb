#include "platform/toolkit/WindowButtons.h"

#include <QGuiApplication>
#include <QWidget>

#ifdef VELMAR_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#endif

namespace velmar {

void offerNoTitleBarButtons(QWidget* window) {
#ifdef VELMAR_HAVE_XCB
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* connection = x11->connection();
    const auto id = static_cast<xcb_window_t>(window->winId());
    constexpr char name[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    if (!atom)
        return;
    // flags, functions, decorations, input mode, status (the Motif window manager's layout).
    constexpr std::uint32_t FunctionsAndDecorations = (1u << 0) | (1u << 1);
    constexpr std::uint32_t MoveOnly = 1u << 2;
    constexpr std::uint32_t BorderAndTitle = (1u << 1) | (1u << 3);
    const std::uint32_t hints[5] = {FunctionsAndDecorations, MoveOnly, BorderAndTitle, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom->atom, atom->atom, 32, 5,
                        hints);
    std::free(atom);
    xcb_flush(connection);
#else
    (void)window;
#endif
}

} // namespace velmar
