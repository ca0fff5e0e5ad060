// The bridge module: the accessible tree as ATK objects, published on the accessibility bus by
// atk-bridge, and GLib's main context run inside the event loop's wait. Loaded only when an
// accessibility bus answers. It is built on the start-up thread (menutip_a11y_open); from
// then on everything here runs on the event thread.
#include "backend.h"

#include <atk-bridge.h>
#include <atk/atk.h>
#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace host::a11y {
namespace {

struct Node;

} // namespace
} // namespace host::a11y

// ---- The GObject type behind every accessible object -----------------------------------------

extern "C" {

// An AtkObject whose answers come from a Node of the tree; `node` is cleared when the Node
// goes, so a client still holding the object sees it defunct, never freed memory.
struct MtAccessible {
    AtkObject parent;
    host::a11y::Node* node;
};
struct MtAccessibleClass {
    AtkObjectClass parentClass;
};

static void mt_accessible_action_init(AtkActionIface* iface);
static void mt_accessible_window_init(AtkWindowIface* iface);
static void mt_accessible_component_init(AtkComponentIface* iface);

G_DEFINE_TYPE_WITH_CODE(MtAccessible, mt_accessible, ATK_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_ACTION, mt_accessible_action_init)
                            G_IMPLEMENT_INTERFACE(ATK_TYPE_WINDOW, mt_accessible_window_init)
                                G_IMPLEMENT_INTERFACE(ATK_TYPE_COMPONENT,
                                                      mt_accessible_component_init))

} // extern "C"

namespace host::a11y {
namespace {

// One accessible object: its role, name and states, its place in the tree, and its action.
struct Node {
    explicit Node(AtkRole r, std::string n, Node* up) : role(r), name(std::move(n)), parent(up) {
        object = static_cast<MtAccessible*>(g_object_new(mt_accessible_get_type(), nullptr));
        object->node = this;
        AtkObject* a = atk();
        atk_object_set_role(a, role);
        atk_object_set_name(a, name.c_str());
        if (parent) {
            atk_object_set_parent(a, parent->atk());
        }
    }
    ~Node() {
        object->node = nullptr;
        g_object_unref(object);
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    AtkObject* atk() const { return ATK_OBJECT(object); }
    int index() const {
        if (!parent) {
            return -1;
        }
        for (std::size_t i = 0; i < parent->children.size(); ++i) {
            if (parent->children[i].get() == this) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    AtkRole role;
    std::string name;
    Node* parent;
    std::vector<std::unique_ptr<Node>> children;
    MtAccessible* object = nullptr;
    // States beyond enabled and sensitive, which every object has.
    bool showing = true;
    bool selectable = false;
    bool selected = false;
    bool focusable = false;
    bool focused = false;
    bool isDefault = false;
    // The action ("click"), with its key binding; none when `actionName` is empty.
    std::string actionName;
    std::string keyBinding;
    std::function<void()> act;
    // Where it is on the screen; none for objects without a place of their own.
    Where where;
};

Node* nodeOf(gpointer object) {
    return reinterpret_cast<MtAccessible*>(object)->node;
}

// Adds a child at the end and tells the bridge.
Node* addChild(Node& parent, std::unique_ptr<Node> child) {
    parent.children.push_back(std::move(child));
    Node* c = parent.children.back().get();
    g_signal_emit_by_name(parent.atk(), "children-changed::add",
                          static_cast<guint>(parent.children.size() - 1), c->atk());
    return c;
}

// Takes a child out of the tree: it turns defunct for anyone still holding it, then goes.
void removeChild(Node& parent, Node* child) {
    const int index = child->index();
    if (index < 0) {
        return;
    }
    atk_object_notify_state_change(child->atk(), ATK_STATE_DEFUNCT, TRUE);
    g_signal_emit_by_name(parent.atk(), "children-changed::remove", static_cast<guint>(index),
                          child->atk());
    parent.children.erase(parent.children.begin() + index);
}

void setState(Node& n, bool Node::*flag, AtkStateType type, bool value) {
    if (n.*flag != value) {
        n.*flag = value;
        atk_object_notify_state_change(n.atk(), type, value);
    }
}

} // namespace
} // namespace host::a11y

// ---- The type's methods -------------------------------------------------------------------

extern "C" {

static gint mt_accessible_get_n_children(AtkObject* object) {
    host::a11y::Node* n = host::a11y::nodeOf(object);
    return n ? static_cast<gint>(n->children.size()) : 0;
}

static AtkObject* mt_accessible_ref_child(AtkObject* object, gint i) {
    host::a11y::Node* n = host::a11y::nodeOf(object);
    if (!n || i < 0 || static_cast<std::size_t>(i) >= n->children.size()) {
        return nullptr;
    }
    return ATK_OBJECT(g_object_ref(n->children[static_cast<std::size_t>(i)]->object));
}

static gint mt_accessible_get_index_in_parent(AtkObject* object) {
    host::a11y::Node* n = host::a11y::nodeOf(object);
    return n ? n->index() : -1;
}

static AtkStateSet* mt_accessible_ref_state_set(AtkObject* object) {
    AtkStateSet* set = atk_state_set_new();
    host::a11y::Node* n = host::a11y::nodeOf(object);
    if (!n) {
        atk_state_set_add_state(set, ATK_STATE_DEFUNCT);
        return set;
    }
    atk_state_set_add_state(set, ATK_STATE_ENABLED);
    atk_state_set_add_state(set, ATK_STATE_SENSITIVE);
    const std::pair<bool, AtkStateType> states[] = {
        {n->showing, ATK_STATE_SHOWING},       {n->showing, ATK_STATE_VISIBLE},
        {n->selectable, ATK_STATE_SELECTABLE}, {n->selected, ATK_STATE_SELECTED},
        {n->focusable, ATK_STATE_FOCUSABLE},   {n->focused, ATK_STATE_FOCUSED},
        {n->isDefault, ATK_STATE_DEFAULT},
    };
    for (const auto& [on, type] : states) {
        if (on) {
            atk_state_set_add_state(set, type);
        }
    }
    return set;
}

static void mt_accessible_init(MtAccessible* self) {
    self->node = nullptr;
}

static void mt_accessible_class_init(MtAccessibleClass* klass) {
    AtkObjectClass* atk = ATK_OBJECT_CLASS(klass);
    atk->get_n_children = mt_accessible_get_n_children;
    atk->ref_child = mt_accessible_ref_child;
    atk->get_index_in_parent = mt_accessible_get_index_in_parent;
    atk->ref_state_set = mt_accessible_ref_state_set;
}

static gint mt_accessible_get_n_actions(AtkAction* action) {
    host::a11y::Node* n = host::a11y::nodeOf(action);
    return n && !n->actionName.empty() ? 1 : 0;
}

static const gchar* mt_accessible_get_action_name(AtkAction* action, gint i) {
    host::a11y::Node* n = host::a11y::nodeOf(action);
    return n && i == 0 && !n->actionName.empty() ? n->actionName.c_str() : nullptr;
}

static const gchar* mt_accessible_get_keybinding(AtkAction* action, gint i) {
    host::a11y::Node* n = host::a11y::nodeOf(action);
    return n && i == 0 && !n->keyBinding.empty() ? n->keyBinding.c_str() : nullptr;
}

static gboolean mt_accessible_do_action(AtkAction* action, gint i) {
    host::a11y::Node* n = host::a11y::nodeOf(action);
    if (!n || i != 0 || !n->act) {
        return FALSE;
    }
    n->act(); // posts to the event loop: nothing runs inside the bridge's call
    return TRUE;
}

static void mt_accessible_action_init(AtkActionIface* iface) {
    iface->get_n_actions = mt_accessible_get_n_actions;
    iface->get_name = mt_accessible_get_action_name;
    iface->get_keybinding = mt_accessible_get_keybinding;
    iface->do_action = mt_accessible_do_action;
}

// Window events (create, destroy) are signals of the interface; it has no methods.
static void mt_accessible_window_init(AtkWindowIface*) {}

// Its place on the screen, or relative to its top-level window or its parent; -1, -1 and no
// size while it has none (a closed menu's entries, a window that went).
static void mt_accessible_get_extents(AtkComponent* component, gint* x, gint* y, gint* width,
                                      gint* height, AtkCoordType type) {
    *x = *y = -1;
    *width = *height = 0;
    const host::a11y::Node* n = host::a11y::nodeOf(component);
    const auto where = [](const host::a11y::Node* of) {
        return of && of->where ? of->where() : std::nullopt;
    };
    const auto r = where(n);
    if (!r) {
        return;
    }
    *x = r->x;
    *y = r->y;
    *width = r->width;
    *height = r->height;
    const host::a11y::Node* origin = nullptr;
    if (type == ATK_XY_WINDOW) {
        for (origin = n; origin->parent && origin->parent->parent; origin = origin->parent) {
        }
    } else if (type == ATK_XY_PARENT) {
        origin = n->parent;
    }
    if (const auto o = origin ? where(origin) : std::nullopt) {
        *x -= o->x;
        *y -= o->y;
    }
}

static void mt_accessible_component_init(AtkComponentIface* iface) {
    iface->get_extents = mt_accessible_get_extents;
}

} // extern "C"

namespace host::a11y {
namespace {

// ---- The tree ------------------------------------------------------------------------------

// ATK asks the toolkit for the root and its name through AtkUtil's class methods.
AtkObject* gRoot = nullptr;
const char* gToolkitName = "menutip";

AtkObject* utilRoot() {
    return gRoot;
}
const gchar* utilToolkitName() {
    return gToolkitName;
}
const gchar* utilToolkitVersion() {
    return "1.0";
}

// A bar's mnemonic binds with Alt; an entry of an open menu by its letter alone. The full path
// follows, as "<Alt>m:r" (mnemonic; path; accelerator).
std::string keyBinding(const std::string& path, const std::string& mnemonic, bool inBar) {
    if (mnemonic.empty()) {
        return {};
    }
    const std::string own = inBar ? "<Alt>" + mnemonic : mnemonic;
    const std::string full = path.empty() ? own : path + ":" + mnemonic;
    return own + ";" + full + ";";
}

class Tree final : public Backend {
  public:
    explicit Tree(const char* programName)
        : root_(std::make_unique<Node>(ATK_ROLE_APPLICATION, programName, nullptr)) {
        gRoot = root_->atk();
    }
    ~Tree() override {
        gRoot = nullptr;
        if (adopted_) {
            g_main_context_release(g_main_context_default());
        }
    }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    bool adopt() override {
        adopted_ = g_main_context_acquire(g_main_context_default());
        return adopted_;
    }

    void apply(Note note) override {
        switch (note.kind) {
        case Note::Kind::WindowShown:
            shown(note);
            break;
        case Note::Kind::WindowText:
            text(note.area, note.text);
            break;
        case Note::Kind::WindowGone:
            gone(note.window);
            break;
        case Note::Kind::MenuBar:
            bars_[note.window].entries = std::move(note.entries);
            bars_[note.window].choose = std::move(note.choose);
            bars_[note.window].whereEntry = std::move(note.whereEntry);
            buildBar(note.window);
            break;
        case Note::Kind::MenuState:
            menuState(note);
            break;
        }
    }

    int poll(pollfd* fds, int count, int timeoutMs) override {
        GMainContext* context = g_main_context_default();
        gint priority = 0;
        g_main_context_prepare(context, &priority);
        gint glibTimeout = -1;
        gint n = 0;
        while ((n = g_main_context_query(context, priority, &glibTimeout, gfds_.data(),
                                         static_cast<gint>(gfds_.size()))) >
               static_cast<gint>(gfds_.size())) {
            gfds_.resize(static_cast<std::size_t>(n));
        }
        all_.assign(fds, fds + count);
        for (gint i = 0; i < n; ++i) {
            all_.push_back({gfds_[i].fd, static_cast<short>(gfds_[i].events), 0});
        }
        int wait = timeoutMs;
        if (glibTimeout >= 0 && (wait < 0 || glibTimeout < wait)) {
            wait = glibTimeout;
        }
        const int ready = ::poll(all_.data(), all_.size(), wait);
        std::copy(all_.begin(), all_.begin() + count, fds);
        for (gint i = 0; i < n; ++i) {
            gfds_[i].revents =
                static_cast<gushort>(all_[static_cast<std::size_t>(count + i)].revents);
        }
        if (g_main_context_check(context, priority, gfds_.data(), n)) {
            g_main_context_dispatch(context);
        }
        return ready;
    }

  private:
    struct Bar {
        std::vector<MenuEntry> entries;
        std::function<void(const std::vector<int>&)> choose;
        std::function<std::optional<Rect>(const std::vector<int>&)> whereEntry;
        std::vector<MenuEntry> built; // what the bar's objects show
        Node* node = nullptr;
        std::set<Node*> selected;
        Node* focus = nullptr;
    };
    struct Window {
        Node* node = nullptr;
        WindowId area = 0;
        bool named = false; // a tip is announced once its text is known
    };

    void shown(const Note& note) {
        if (auto it = windows_.find(note.window); it != windows_.end()) {
            atk_object_set_name(it->second.node->atk(), note.text.c_str());
            it->second.node->name = note.text;
            return;
        }
        const AtkRole role = note.role == Role::ToolTip ? ATK_ROLE_TOOL_TIP
                             : note.role == Role::Alert ? ATK_ROLE_ALERT
                                                        : ATK_ROLE_FRAME;
        auto node = std::make_unique<Node>(role, note.text, root_.get());
        node->where = note.where;
        Window w{node.get(), note.area, note.role != Role::ToolTip};
        // A tip shows once its text is drawn: that is what a screen reader speaks.
        node->showing = w.named;
        if (note.role == Role::Frame) {
            addChild(*node, std::make_unique<Node>(ATK_ROLE_DRAWING_AREA, "", node.get()));
        } else if (note.role == Role::Alert) {
            addChild(*node, std::make_unique<Node>(ATK_ROLE_LABEL, note.text, node.get()));
            for (std::size_t i = 0; i < note.buttons.size(); ++i) {
                auto b = std::make_unique<Node>(ATK_ROLE_PUSH_BUTTON, note.buttons[i], node.get());
                b->focusable = true;
                if (static_cast<int>(i) == note.defaultButton) {
                    // Enter presses it, so it is the default and has the keyboard.
                    b->isDefault = true;
                    b->focused = true;
                    b->actionName = "click";
                    b->act = [press = note.press, i] { press(static_cast<int>(i)); };
                }
                addChild(*node, std::move(b));
            }
        }
        Node* n = addChild(*root_, std::move(node));
        windows_[note.window] = w;
        if (note.area) {
            areas_[note.area] = note.window;
        }
        if (w.named) {
            announce(*n);
        }
        if (note.role == Role::Frame) {
            buildBar(note.window);
        } else if (note.role == Role::Alert && n->children.size() > 1) {
            focus(n->children[static_cast<std::size_t>(note.defaultButton) + 1].get());
        }
    }

    void announce(Node& n) {
        g_signal_emit_by_name(n.atk(), "create");
        atk_object_notify_state_change(n.atk(), ATK_STATE_SHOWING, TRUE);
    }

    void text(WindowId area, const std::string& text) {
        const auto a = areas_.find(area);
        if (a == areas_.end()) {
            return;
        }
        Window& w = windows_.at(a->second);
        if (w.named || w.node->role != ATK_ROLE_TOOL_TIP) {
            return;
        }
        w.named = true;
        w.node->name = text;
        atk_object_set_name(w.node->atk(), text.c_str());
        w.node->showing = true;
        announce(*w.node);
    }

    void gone(WindowId window) {
        const auto it = windows_.find(window);
        if (it == windows_.end()) {
            return;
        }
        Node* n = it->second.node;
        if (it->second.area) {
            areas_.erase(it->second.area);
        }
        windows_.erase(it);
        bars_.erase(window);
        setState(*n, &Node::showing, ATK_STATE_SHOWING, false);
        g_signal_emit_by_name(n->atk(), "destroy");
        removeChild(*root_, n);
    }

    // (Re)builds a dialog's bar once both the dialog and the bar's entries are known.
    void buildBar(WindowId window) {
        const auto w = windows_.find(window);
        const auto b = bars_.find(window);
        if (w == windows_.end() || b == bars_.end()) {
            return;
        }
        Bar& bar = b->second;
        if (bar.node && bar.built == bar.entries) {
            return;
        }
        Node& frame = *w->second.node;
        if (bar.node) {
            removeChild(frame, bar.node);
            bar = Bar{std::move(bar.entries),
                      std::move(bar.choose),
                      std::move(bar.whereEntry),
                      {},
                      nullptr,
                      {},
                      nullptr};
        }
        if (bar.entries.empty()) {
            bars_.erase(b);
            return;
        }
        auto node = std::make_unique<Node>(ATK_ROLE_MENU_BAR, "", &frame);
        if (bar.whereEntry) {
            node->where = [whereEntry = bar.whereEntry] { return whereEntry({}); };
        }
        addEntries(*node, bar.entries, "", {}, bar);
        // The drawing area stays last, below the bar, as on the screen.
        frame.children.insert(frame.children.begin(), std::move(node));
        bar.node = frame.children.front().get();
        g_signal_emit_by_name(frame.atk(), "children-changed::add", 0U, bar.node->atk());
        bar.built = bar.entries;
    }

    // The entries of the bar (`at` empty) or of a menu at `at` (entry numbers from the bar's);
    // `path` is their key binding's so far.
    void addEntries(Node& menu, const std::vector<MenuEntry>& entries, const std::string& path,
                    const std::vector<int>& at, const Bar& bar) {
        const bool inBar = at.empty();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const MenuEntry& e = entries[i];
            std::vector<int> here = at;
            here.push_back(static_cast<int>(i) + 1);
            auto item = std::make_unique<Node>(e.submenu ? ATK_ROLE_MENU : ATK_ROLE_MENU_ITEM,
                                               e.text, &menu);
            item->selectable = true;
            item->focusable = true;
            item->showing = inBar;
            item->actionName = "click";
            item->keyBinding = keyBinding(path, e.mnemonic, inBar);
            if (bar.choose) {
                item->act = [choose = bar.choose, here] { choose(here); };
            }
            if (bar.whereEntry) {
                item->where = [whereEntry = bar.whereEntry, here] { return whereEntry(here); };
            }
            if (e.submenu) {
                const std::string own = inBar ? "<Alt>" + e.mnemonic : e.mnemonic;
                addEntries(*item, e.entries, path.empty() ? own : path + ":" + e.mnemonic, here,
                           bar);
            }
            menu.children.push_back(std::move(item));
        }
    }

    // Marks what menu mode shows: the open menus' entries showing, the entries that lead to
    // the open menus and the marked one selected, the innermost of them focused.
    void menuState(const Note& note) {
        const auto b = bars_.find(note.window);
        if (b == bars_.end() || !b->second.node) {
            return;
        }
        Bar& bar = b->second;
        Node& barNode = *bar.node;
        std::set<Node*> selected;
        std::set<Node*> open;
        Node* menu = &barNode;
        for (std::size_t level = 0; level < note.path.size() && menu; ++level) {
            const int at = note.path[level];
            if (at < 1 || static_cast<std::size_t>(at) > menu->children.size()) {
                break;
            }
            menu = menu->children[static_cast<std::size_t>(at) - 1].get();
            selected.insert(menu);
            open.insert(menu);
            const int marked = level < note.marked.size() ? note.marked[level] : 0;
            if (marked >= 1 && static_cast<std::size_t>(marked) <= menu->children.size()) {
                selected.insert(menu->children[static_cast<std::size_t>(marked) - 1].get());
            }
        }
        // Entries of menus that opened or closed appear or disappear.
        forEachMenu(barNode, [&](Node& m) {
            const bool isOpen = open.count(&m) > 0;
            for (auto& c : m.children) {
                c->showing = isOpen;
            }
        });
        for (Node* n : bar.selected) {
            if (!selected.count(n)) {
                setState(*n, &Node::selected, ATK_STATE_SELECTED, false);
            }
        }
        for (Node* n : selected) {
            setState(*n, &Node::selected, ATK_STATE_SELECTED, true);
        }
        bar.selected = selected;
        // The keyboard is in the menus while any is open (menu mode holds the keyboard grab):
        // the innermost selected entry has it.
        Node* innermost = nullptr;
        for (Node* n : selected) {
            if (!innermost || depth(n) > depth(innermost)) {
                innermost = n;
            }
        }
        if (innermost != bar.focus) {
            if (bar.focus) {
                setState(*bar.focus, &Node::focused, ATK_STATE_FOCUSED, false);
            }
            bar.focus = innermost;
            if (innermost) {
                focus(innermost);
            }
        }
    }

    static int depth(const Node* n) {
        int d = 0;
        for (; n; n = n->parent) {
            ++d;
        }
        return d;
    }

    template <class F> static void forEachMenu(Node& n, F&& f) {
        for (auto& c : n.children) {
            if (c->role == ATK_ROLE_MENU) {
                f(*c);
                forEachMenu(*c, f);
            }
        }
    }

    static void focus(Node* n) {
        setState(*n, &Node::focused, ATK_STATE_FOCUSED, true);
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        atk_focus_tracker_notify(n->atk()); // the bridge's "focus:" event
        G_GNUC_END_IGNORE_DEPRECATIONS
    }

    bool adopted_ = false;
    std::unique_ptr<Node> root_;
    std::map<WindowId, Window> windows_;
    std::map<WindowId, WindowId> areas_; // drawing area -> its top-level window
    std::map<WindowId, Bar> bars_;       // by dialog window
    std::vector<GPollFD> gfds_ = std::vector<GPollFD>(8);
    std::vector<pollfd> all_;
};

} // namespace
} // namespace host::a11y

extern "C" __attribute__((visibility("default"))) host::a11y::Backend*
menutip_a11y_open(const char* programName) {
    using namespace host::a11y;
    if (!g_get_prgname()) {
        g_set_prgname(programName);
    }
    auto tree = std::make_unique<Tree>(programName);
    AtkUtilClass* util = ATK_UTIL_CLASS(g_type_class_ref(ATK_TYPE_UTIL));
    util->get_root = utilRoot;
    util->get_toolkit_name = utilToolkitName;
    util->get_toolkit_version = utilToolkitVersion;
    // Connects to the accessibility bus and registers with its registry; its D-Bus traffic
    // is then served by GLib's default context, which the event thread adopts.
    if (atk_bridge_adaptor_init(nullptr, nullptr) != 0) {
        return nullptr;
    }
    return tree.release();
}
