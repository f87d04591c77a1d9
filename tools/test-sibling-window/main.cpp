// test-sibling-window [--class NAME] [--instance NAME] [--ready FILE] [--timeout SECONDS]
//
// Opens a top-level window whose WM_CLASS is instance "vcmmainwin", class
// "VcmMainwin" (or the names given), writes FILE once the window exists, and exits with 0 when the
// window receives WM_DELETE_WINDOW, or with 2 after SECONDS (default 60) so a
// failed test leaves nothing running.

#include <xcb/xcb.h>

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string className = "VcmMainwin";
    std::string instanceName = "vcmmainwin";
    std::string readyFile;
    int timeoutSeconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--class")
            className = argv[i + 1];
        else if (option == "--instance")
            instanceName = argv[i + 1];
        else if (option == "--ready")
            readyFile = argv[i + 1];
        else if (option == "--timeout")
            timeoutSeconds = std::atoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "unknown option %s\n", option.c_str());
            return 64;
        }
    }

    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "cannot open the display\n");
        return 1;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i)
        xcb_screen_next(&it);
    xcb_screen_t* screen = it.data;

    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 20, 20, 240, 120, 1,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                      values);

    // WM_CLASS: instance name, NUL, class name, NUL.
    std::string wmClass = instanceName;
    wmClass.push_back('\0');
    wmClass += className;
    wmClass.push_back('\0');
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(wmClass.size()), wmClass.data());
    const char title[] = "Vireo Cast (test)";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        sizeof title - 1, title);
    const xcb_atom_t protocols = internAtom(c, "WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = internAtom(c, "WM_DELETE_WINDOW");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, protocols, XCB_ATOM_ATOM, 32, 1, &deleteWindow);
    xcb_map_window(c, window);

    // A round trip makes sure the window and its properties exist before the
    // ready file tells the test so.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!readyFile.empty()) {
        if (FILE* f = std::fopen(readyFile.c_str(), "w")) {
            std::fprintf(f, "%u\n", window);
            std::fclose(f);
        }
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    pollfd pfd{xcb_get_file_descriptor(c), POLLIN, 0};
    while (std::chrono::steady_clock::now() < deadline) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const bool closeRequest = (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                                      reinterpret_cast<xcb_client_message_event_t*>(event)->type == protocols &&
                                      reinterpret_cast<xcb_client_message_event_t*>(event)->data.data32[0] == deleteWindow;
            std::free(event);
            if (closeRequest) {
                xcb_destroy_window(c, window);
                xcb_disconnect(c);
                return 0;
            }
        }
        if (xcb_connection_has_error(c))
            return 1;
        poll(&pfd, 1, 200);
    }
    xcb_disconnect(c);
    return 2;
}
