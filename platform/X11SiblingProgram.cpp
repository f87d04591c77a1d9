#include "platform/X11SiblingProgram.h"

#include "platform/ProcessLauncher.h"

#include <QFileInfo>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace vz {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// One short-lived connection per operation: the sibling is looked up rarely,
// and a display that comes or goes between runs is then handled naturally.
class XConnection {
public:
    explicit XConnection(const QString& displayName)
    {
        const QByteArray name = displayName.toLocal8Bit();
        int screenNumber = 0;
        conn_ = xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber);
        if (xcb_connection_has_error(conn_))
            return;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
        for (int i = 0; it.rem > 0 && i < screenNumber; ++i)
            xcb_screen_next(&it);
        if (it.rem > 0)
            root_ = it.data->root;
    }
    ~XConnection() { xcb_disconnect(conn_); }
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    bool ok() const { return !xcb_connection_has_error(conn_) && root_ != XCB_WINDOW_NONE; }
    xcb_connection_t* get() const { return conn_; }
    xcb_window_t root() const { return root_; }

    xcb_atom_t atom(const char* name, bool onlyIfExists) const
    {
        const auto cookie = xcb_intern_atom(conn_, onlyIfExists ? 1 : 0, static_cast<uint16_t>(std::strlen(name)), name);
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(conn_, cookie, nullptr));
        return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    }

private:
    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = XCB_WINDOW_NONE;
};

// WM_CLASS holds "instance\0class\0".
bool classMatches(const xcb_get_property_reply_t* reply)
{
    if (!reply || reply->format != 8)
        return false;
    const int length = xcb_get_property_value_length(reply);
    const char* value = static_cast<const char*>(xcb_get_property_value(reply));
    int start = 0;
    for (int i = 0; i <= length; ++i) {
        if (i == length || value[i] == '\0') {
            const QString part = QString::fromLatin1(value + start, i - start);
            if (part.compare(X11SiblingProgram::WindowClass, Qt::CaseInsensitive) == 0)
                return true;
            start = i + 1;
        }
    }
    return false;
}

// The first of the windows whose WM_CLASS matches; the property requests are
// sent together and answered in one round trip.
std::optional<xcb_window_t> firstMatching(xcb_connection_t* c, const std::vector<xcb_window_t>& windows)
{
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (xcb_window_t w : windows)
        cookies.push_back(xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256));
    std::optional<xcb_window_t> found;
    for (size_t i = 0; i < cookies.size(); ++i) {
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookies[i], nullptr));
        if (!found && classMatches(reply.get()))
            found = windows[i];
    }
    return found;
}

std::vector<xcb_window_t> childrenOf(xcb_connection_t* c, xcb_window_t window)
{
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return std::vector<xcb_window_t>(children, children + xcb_query_tree_children_length(tree.get()));
}

// Without a window manager's client list: the root's children are the
// top-level windows; a reparenting manager puts each client inside a frame,
// so a few levels below the root are searched too.
std::optional<xcb_window_t> searchTree(xcb_connection_t* c, xcb_window_t root)
{
    constexpr int MaxDepth = 3;
    std::vector<xcb_window_t> level = childrenOf(c, root);
    for (int depth = 0; depth < MaxDepth && !level.empty(); ++depth) {
        if (auto found = firstMatching(c, level))
            return found;
        std::vector<xcb_window_t> next;
        for (xcb_window_t w : level) {
            const auto children = childrenOf(c, w);
            next.insert(next.end(), children.begin(), children.end());
        }
        level = std::move(next);
    }
    return std::nullopt;
}

std::optional<xcb_window_t> findSiblingWindow(const XConnection& x)
{
    xcb_connection_t* c = x.get();
    const xcb_atom_t clientList = x.atom("_NET_CLIENT_LIST", true);
    if (clientList != XCB_ATOM_NONE) {
        const auto cookie = xcb_get_property(c, 0, x.root(), clientList, XCB_ATOM_WINDOW, 0, 65536);
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr));
        if (reply && reply->type == XCB_ATOM_WINDOW && reply->format == 32) {
            const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
            const int count = xcb_get_property_value_length(reply.get()) / 4;
            return firstMatching(c, std::vector<xcb_window_t>(ids, ids + count));
        }
    }
    return searchTree(c, x.root());
}

}  // namespace

X11SiblingProgram::X11SiblingProgram(const FileSystem& fs, QString displayName)
    : fs_(fs), displayName_(std::move(displayName))
{
}

bool X11SiblingProgram::SiblingIsRunning()
{
    const XConnection x(displayName_);
    return x.ok() && findSiblingWindow(x).has_value();
}

void X11SiblingProgram::AskSiblingToClose()
{
    const XConnection x(displayName_);
    if (!x.ok())
        return;
    const auto window = findSiblingWindow(x);
    if (!window)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = *window;
    event.type = x.atom("WM_PROTOCOLS", false);
    event.data.data32[0] = x.atom("WM_DELETE_WINDOW", false);
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(x.get(), 0, *window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    // One round trip so that the server has taken the message before the
    // connection goes away; the sibling's reaction is not awaited.
    Reply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(x.get(), xcb_get_input_focus(x.get()), nullptr));
}

void X11SiblingProgram::StartSiblingServer(const QString& systemFolderWindowsPath)
{
    const auto hostPath = fs_.toHost(systemFolderWindowsPath + ServerFileName);
    if (!hostPath)
        return;
    LaunchRequest request;
    request.workingFolder = QFileInfo(*hostPath).absolutePath();
    switch (ProcessLauncher::classify(*hostPath)) {
    case ProcessLauncher::FileKind::Missing:
        return;
    case ProcessLauncher::FileKind::NativeExecutable:
        request.program = *hostPath;
        break;
    case ProcessLauncher::FileKind::Other: {
        const auto wine = ProcessLauncher::findInPath(QStringLiteral("wine"));
        if (!wine)
            return;
        request.program = *wine;
        request.arguments = QStringList{*hostPath};
        // The server belongs to the same Wine installation as the drives.
        if (!fs_.driveMap().prefix().isEmpty())
            request.environment.emplace_back(QStringLiteral("WINEPREFIX"), fs_.driveMap().prefix());
        break;
    }
    }
    ProcessLauncher::startDetached(request);
}

}  // namespace vz
