// The windows group: the part that receives events, windows, dialogs with their drawing
// area and menu bar, menus, and the desktop. A window belongs to the thread that created it
// and is driven from that thread only.
#pragma once

#include <host/application.h>
#include <host/drawing.h>
#include <host/values.h>

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace host {

namespace detail {
struct WindowState;
struct MenuState;
struct DialogState;
struct Access; // the runtime's way to the state behind these objects
} // namespace detail

// Presentation parameters: colours and the font a window starts with.
namespace pp {
inline constexpr int Foreground = 2; // Color
inline constexpr int Background = 4; // Color
inline constexpr int Font = 16;      // host::Font
} // namespace pp
struct PresParam {
    int code = 0;
    std::variant<Color, Font> value;
};
using PresParams = std::vector<PresParam>;

// Anything that can be the target of an event.
class XbpPart : public std::enable_shared_from_this<XbpPart> {
  public:
    virtual ~XbpPart();
    // Handles an event taken with AppEvent. The fourth argument is reserved (NIL).
    virtual void handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t = Nil);
};

// A window of the window system. Settings are given before `create`; `create` makes the window.
class XbpWindow : public XbpPart {
  public:
    ~XbpWindow() override;
    XbpWindow(const XbpWindow&) = delete;
    XbpWindow& operator=(const XbpWindow&) = delete;

    virtual void destroy();
    bool isCreated() const;

    bool show();
    bool hide();
    bool isVisible() const;

    std::shared_ptr<XbpWindow> parent() const;

    Size currentSize() const;
    Point currentPos() const; // lower left corner, in the parent's coordinates
    bool setPos(Point pos);
    bool setSize(Size size);

    // The window's presentation space, for drawing straight onto the window.
    std::shared_ptr<XbpPresSpace> lockPS();
    void unlockPS(std::shared_ptr<XbpPresSpace> ps = nullptr);

    // With no argument each returns the current value; with one it sets it and returns the
    // previous value.
    Color setColorFG(std::optional<Color> color = Nil);
    Color setColorBG(std::optional<Color> color = Nil);
    Font setFont(std::optional<Font> font = Nil);

    bool clipParent() const;
    void clipParent(bool on);
    bool clipChildren() const;
    void clipChildren(bool on);

    void handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t = Nil) override;

  protected:
    friend struct detail::Access;
    XbpWindow(std::shared_ptr<XbpWindow> parent, std::optional<Point> pos, std::optional<Size> size,
              PresParams presParams, bool visible);
    std::unique_ptr<detail::WindowState> impl_;
};

// What the drawing area does with its bitmap.
namespace bmp {
inline constexpr int Plain = 0;   // drawn at the lower left corner, unscaled
inline constexpr int Scaled = 64; // scaled to fill the whole drawing area
} // namespace bmp

// The client area of a dialog, below its menu bar.
class XbpDrawingArea : public XbpWindow {
  public:
    std::shared_ptr<XbpBitmap> bitmap() const;
    void bitmap(std::shared_ptr<XbpBitmap> bitmap);
    int options() const;
    void options(int options);

    void handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t = Nil) override;

  private:
    friend class XbpDialog;
    using XbpWindow::XbpWindow;
};

class XbpMenu;
class XbpMenuBar;

// A top-level window with a title and a drawing area; a dialog without title bar and with
// alwaysOnTop is an undecorated window above all others (a tip).
class XbpDialog : public XbpWindow {
  public:
    static std::shared_ptr<XbpDialog> New(std::shared_ptr<XbpWindow> parent = nullptr,
                                          std::shared_ptr<XbpWindow> owner = nullptr,
                                          std::optional<Point> pos = Nil,
                                          std::optional<Size> size = Nil,
                                          PresParams presParams = {}, bool visible = true);
    ~XbpDialog() override;

    std::shared_ptr<XbpDialog> create();
    void destroy() override;
    // Lays out the drawing area (and menu bar) after a change of settings or size.
    bool configure();

    std::shared_ptr<XbpDrawingArea> drawingArea() const;
    // The dialog's menu bar, made on first use (created with the dialog when that exists).
    std::shared_ptr<XbpMenuBar> menuBar();

    // Settings taken over by `create`.
    std::string title() const;
    void title(std::string text);
    bool taskList() const;
    void taskList(bool on);
    bool sysMenu() const;
    void sysMenu(bool on);
    int border() const;
    void border(int type);
    bool titlebar() const;
    void titlebar(bool on);
    bool alwaysOnTop() const;
    void alwaysOnTop(bool on);
    const Callback<bool()>& close() const;
    void close(Callback<bool()> callback);

    void handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t = Nil) override;

  private:
    using XbpWindow::XbpWindow;
    std::unique_ptr<detail::DialogState> state_;
};

// ---- Menus -------------------------------------------------------------------------------

// An entry of a menu or menu bar: an action (caption, selection callback, style, attributes)
// or a submenu, shown under the submenu's title. A "~" in a caption marks the mnemonic letter.
struct MenuAction {
    std::string caption;
    Callback<void()> selected;
    std::optional<int> style;
    std::optional<int> attributes;
};
using MenuItem = std::variant<MenuAction, std::shared_ptr<XbpMenu>>;

class XbpMenuBar : public XbpPart {
  public:
    ~XbpMenuBar() override;
    // Appends an entry; entries are numbered from 1. Returns the entry's number.
    int addItem(MenuItem item);
    int numItems() const;
    const Callback<void()>& endMenu() const;
    void endMenu(Callback<void()> callback);
    void destroy();

    void handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t = Nil) override;

  private:
    friend class XbpDialog;
    explicit XbpMenuBar(std::weak_ptr<XbpDialog> dialog);
    friend struct detail::Access;
    std::unique_ptr<detail::MenuState> impl_;
};

class XbpMenu : public XbpPart {
  public:
    // The parent is the menu bar or the menu whose submenu this becomes.
    static std::shared_ptr<XbpMenu> New(std::shared_ptr<XbpPart> parent);
    ~XbpMenu() override;

    std::shared_ptr<XbpMenu> create();
    std::string title() const;
    void title(std::string text);
    const Callback<void(int)>& itemMarked() const;
    void itemMarked(Callback<void(int)> callback);
    const Callback<void()>& endMenu() const;
    void endMenu(Callback<void()> callback);
    int addItem(MenuItem item);
    int numItems() const;
    void destroy();

    void handleEvent(int nEvent, Param mp1, Param mp2, std::nullopt_t = Nil) override;

  private:
    explicit XbpMenu(std::shared_ptr<XbpPart> parent);
    friend struct detail::Access;
    std::unique_ptr<detail::MenuState> impl_;
};

// ---- The desktop -------------------------------------------------------------------------

// The whole desktop, every monitor. Any thread may use it.
class XbpDesktop : public XbpWindow {
  public:
    ~XbpDesktop() override;
    void destroy() override; // the desktop is never destroyed; this does nothing

  private:
    friend std::shared_ptr<XbpDesktop> AppDesktop();
    XbpDesktop();
};

} // namespace host
