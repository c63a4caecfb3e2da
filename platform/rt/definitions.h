// Declarative window definitions: a form's own properties and its table of controls.
//
// A form unit lists its controls topmost first, the way one reads a form's design, e.g.
//   rt::Button(L"Command2", L"Next >", 4680, 4275, 1215, 375).Default().Tab(0)
// All positions and sizes are twips relative to the container's client area.
#pragma once

#include <cstdint>
#include <vector>

namespace rt {

// A colour: the default of the control, an RGB value, or a system colour of the user's scheme.
struct Colour {
  enum class Kind : uint8_t { Default, Rgb, System };
  Kind kind = Kind::Default;
  uint32_t value = 0;  // 0x00BBGGRR for Rgb, a system colour index for System

  static constexpr Colour Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return Colour{Kind::Rgb, uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16)};
  }
  static constexpr Colour System(uint32_t index) { return Colour{Kind::System, index}; }
  constexpr bool IsDefault() const { return kind == Kind::Default; }
};

// System colour indices (the values of the Win32 COLOR_* constants).
namespace syscolour {
constexpr uint32_t Window = 5;
constexpr uint32_t WindowText = 8;
constexpr uint32_t ButtonFace = 15;
constexpr uint32_t ButtonText = 18;
}  // namespace syscolour

constexpr Colour kWhite = Colour::Rgb(255, 255, 255);
constexpr Colour kBlack = Colour::Rgb(0, 0, 0);
constexpr Colour kButtonText = Colour::System(syscolour::ButtonText);
constexpr Colour kButtonFace = Colour::System(syscolour::ButtonFace);
constexpr Colour kWindowBackground = Colour::System(syscolour::Window);
constexpr Colour kWindowText = Colour::System(syscolour::WindowText);

struct Font {
  const wchar_t* face = nullptr;  // nullptr: the window's default font
  double points = 0;
  bool bold = false;
  bool italic = false;
  bool ansi = false;  // the ANSI character set rather than the one the face maps to by default
  constexpr bool IsDefault() const { return face == nullptr; }
};

enum class Kind : uint8_t { Label, CommandButton, Line, Image, Frame, PictureBox, TextBox, DriveList, DirList };

// Windowless controls are painted by their container underneath every windowed control.
constexpr bool IsWindowless(Kind k) { return k == Kind::Label || k == Kind::Line || k == Kind::Image; }
constexpr bool TakesFocus(Kind k) {
  return k == Kind::CommandButton || k == Kind::TextBox || k == Kind::DriveList || k == Kind::DirList;
}

struct ControlDef {
  Kind kind = Kind::Label;
  const wchar_t* name = L"";
  const wchar_t* caption = L"";  // caption, or initial text of a text box
  int left = 0, top = 0, width = 0, height = 0;  // for a line: x1, y1, x2, y2
  int tabIndex = -1;
  const wchar_t* container = nullptr;  // name of the frame that holds it; nullptr: the form
  Font font{};
  Colour fore{};
  Colour back{};
  bool transparent = true;  // labels: background not painted
  bool isDefault = false;   // command button activated by Enter
  bool enabled = true;
  bool stretch = false;  // images: picture stretched to the box
  bool persistent = false;  // picture boxes: drawing kept in an image the box repaints from
  bool border = true;       // picture boxes: the standard border
  bool sizedToPicture = false;  // picture boxes: exactly as large as the picture, at any resolution
  int picture = 0;          // resource id of a bitmap, 0 for none
  // For screen readers: the label whose caption names a list or text box (a control that has
  // no caption of its own), labels that repeat another one for looks only (a shadow, which high
  // contrast leaves out too), and a picture box that shows progress.
  const wchar_t* labelledBy = nullptr;
  bool decorative = false;
  bool gauge = false;  // picture boxes: a progress bar, its value the text printed on it

  constexpr ControlDef Tab(int i) const { ControlDef c = *this; c.tabIndex = i; return c; }
  constexpr ControlDef In(const wchar_t* frame) const { ControlDef c = *this; c.container = frame; return c; }
  constexpr ControlDef WithFont(const wchar_t* face, double pt, bool bold = false, bool italic = false) const {
    ControlDef c = *this; c.font = Font{face, pt, bold, italic}; return c;
  }
  constexpr ControlDef AnsiCharset() const { ControlDef c = *this; c.font.ansi = true; return c; }
  constexpr ControlDef Fore(Colour col) const { ControlDef c = *this; c.fore = col; return c; }
  constexpr ControlDef Back(Colour col) const { ControlDef c = *this; c.back = col; return c; }
  constexpr ControlDef Opaque() const { ControlDef c = *this; c.transparent = false; return c; }
  constexpr ControlDef Default() const { ControlDef c = *this; c.isDefault = true; return c; }
  constexpr ControlDef Disabled() const { ControlDef c = *this; c.enabled = false; return c; }
  constexpr ControlDef Stretch() const { ControlDef c = *this; c.stretch = true; return c; }
  constexpr ControlDef Persistent() const { ControlDef c = *this; c.persistent = true; return c; }
  constexpr ControlDef NoBorder() const { ControlDef c = *this; c.border = false; return c; }
  constexpr ControlDef Picture(int id) const { ControlDef c = *this; c.picture = id; return c; }
  constexpr ControlDef SizedToPicture() const { ControlDef c = *this; c.sizedToPicture = true; return c; }
  constexpr ControlDef LabelledBy(const wchar_t* label) const { ControlDef c = *this; c.labelledBy = label; return c; }
  constexpr ControlDef Decorative() const { ControlDef c = *this; c.decorative = true; return c; }
  constexpr ControlDef Gauge() const { ControlDef c = *this; c.gauge = true; return c; }
};

constexpr ControlDef MakeControl(Kind k, const wchar_t* name, const wchar_t* caption, int l, int t, int w, int h) {
  ControlDef c{};
  c.kind = k; c.name = name; c.caption = caption; c.left = l; c.top = t; c.width = w; c.height = h;
  return c;
}
constexpr ControlDef Label(const wchar_t* n, const wchar_t* caption, int l, int t, int w, int h) {
  return MakeControl(Kind::Label, n, caption, l, t, w, h);
}
constexpr ControlDef Button(const wchar_t* n, const wchar_t* caption, int l, int t, int w, int h) {
  return MakeControl(Kind::CommandButton, n, caption, l, t, w, h);
}
constexpr ControlDef Frame(const wchar_t* n, const wchar_t* caption, int l, int t, int w, int h) {
  return MakeControl(Kind::Frame, n, caption, l, t, w, h);
}
constexpr ControlDef Image(const wchar_t* n, int picture, int l, int t, int w, int h) {
  return MakeControl(Kind::Image, n, L"", l, t, w, h).Picture(picture);
}
constexpr ControlDef PictureBox(const wchar_t* n, int l, int t, int w, int h) {
  return MakeControl(Kind::PictureBox, n, L"", l, t, w, h);
}
constexpr ControlDef TextBox(const wchar_t* n, const wchar_t* text, int l, int t, int w, int h) {
  return MakeControl(Kind::TextBox, n, text, l, t, w, h);
}
constexpr ControlDef DriveList(const wchar_t* n, int l, int t, int w, int h) {
  return MakeControl(Kind::DriveList, n, L"", l, t, w, h);
}
constexpr ControlDef DirList(const wchar_t* n, int l, int t, int w, int h) {
  return MakeControl(Kind::DirList, n, L"", l, t, w, h);
}
// A line from (x1, y1) to (x2, y2), solid, one pixel, in the window-text colour.
constexpr ControlDef Line(const wchar_t* n, int x1, int y1, int x2, int y2) {
  return MakeControl(Kind::Line, n, L"", x1, y1, x2, y2).Fore(kWindowText);
}

enum class Border : uint8_t {
  Sizable,      // resizable frame with title bar
  FixedDialog,  // fixed dialog frame: not resizable
};

struct FormDef {
  const wchar_t* name = L"";
  const wchar_t* caption = L"";
  Border border = Border::FixedDialog;
  bool minButton = false;
  bool maxButton = false;
  bool showInTaskbar = false;
  bool controlBox = true;  // system menu and close box
  bool startMaximized = false;
  int left = 0, top = 0, width = 0, height = 0;  // client area at design time, twips
  Colour back = kButtonFace;
  int icon = 0;            // resource id of the window's icon
  std::vector<ControlDef> controls;  // topmost first
};

}  // namespace rt
