#pragma once

// Windows made of a plain widget (Settings, the menu-bar panel without a
// tray) as assistive technology meets them. Qt gives a plain widget the role
// of a client area, also when it is a window, so a screen reader does not
// announce it as a window; with this factory a plain widget is a window while
// it is one and a client area otherwise. Widgets with an interface of their
// own (Qt's or ours) keep it.
namespace WindowAccessibility {
// Installs the factory once (safe to call more than once).
void install();
} // namespace WindowAccessibility
