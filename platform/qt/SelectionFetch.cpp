#include "platform/qt/SelectionFetch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace zumelko::platform::qt {

namespace {

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

struct Disconnect {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

// One connection, one window to receive the transfer on, the atoms it needs.
class Requestor {
public:
    Requestor(const QByteArray& display, const std::atomic<bool>& cancelled, int wake, int quietMs)
        : cancelled_(cancelled), wake_(wake), quietMs_(quietMs) {
        int screenNumber = 0;
        connection_.reset(xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber));
        if (xcb_connection_has_error(connection_.get()) != 0) {
            connection_.reset();
            return;
        }
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c()));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
        if (screens.rem == 0) {
            connection_.reset();
            return;
        }
        window_ = xcb_generate_id(c());
        const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c(), 0, window_, screens.data->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    }
    bool Ok() const { return connection_ != nullptr; }
    xcb_connection_t* c() const { return connection_.get(); }
    xcb_window_t Window() const { return window_; }

    // Atoms by name, asked for together: one round trip for all of them. 0 for a name the
    // server does not know when `onlyIfExists`.
    std::vector<xcb_atom_t> Atoms(const std::vector<QByteArray>& names, bool onlyIfExists) {
        std::vector<xcb_intern_atom_cookie_t> cookies;
        cookies.reserve(names.size());
        for (const QByteArray& name : names)
            cookies.push_back(xcb_intern_atom(c(), onlyIfExists ? 1 : 0, static_cast<std::uint16_t>(name.size()),
                                              name.constData()));
        std::vector<xcb_atom_t> atoms;
        atoms.reserve(names.size());
        for (const auto& cookie : cookies) {
            Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c(), cookie, nullptr));
            atoms.push_back(reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE});
        }
        return atoms;
    }

    // The window of the selection's owner now (none when there is none).
    xcb_window_t Owner(xcb_atom_t selection) {
        Reply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(c(), xcb_get_selection_owner(c(), selection), nullptr));
        return owner ? owner->owner : xcb_window_t{XCB_WINDOW_NONE};
    }

    // Waits for the event `wanted` accepts. False when the connection breaks or nothing it
    // wants comes for the quiet time, and when cancelled, except while the owner's answer is
    // due: then it waits on for the answer as long as the owner's window is there.
    template <typename Wanted>
    bool WaitFor(Wanted&& wanted, bool answerDue) {
        xcb_flush(c());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(quietMs_);
        bool idle = false;
        for (;;) {
            // Events may already wait in the connection's queue, read along with a reply.
            while (xcb_generic_event_t* raw = xcb_poll_for_event(c())) {
                Reply<xcb_generic_event_t> event(raw);
                if (wanted(*event)) return true;
            }
            if (xcb_connection_has_error(c()) != 0) return false;
            const bool cancelled = cancelled_.load();
            if (cancelled && !answerDue) return false;
            // An owner that has gone will not answer: looked for whenever it keeps still.
            if (answerDue && (idle || cancelled) && !OwnerThere()) return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                    std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            // Once cancelled, the wake-up stays readable and is no longer watched.
            pollfd fds[2] = {{xcb_get_file_descriptor(c()), POLLIN, 0}, {wake_, POLLIN, 0}};
            idle = ::poll(fds, cancelled ? 1 : 2, static_cast<int>(std::min<long long>(left.count(), 200))) == 0;
        }
    }

    // Whether the owner that was asked may still answer: true while it is not known for sure
    // who was asked.
    bool OwnerThere() {
        if (asked_ == XCB_WINDOW_NONE) return true;
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c(), xcb_get_window_attributes(c(), asked_), &error));
        std::free(error);
        return attributes != nullptr;
    }

    // A time the server gave, for the request: a property appended to with nothing tells it.
    xcb_timestamp_t Now(xcb_atom_t property) {
        xcb_change_property(c(), XCB_PROP_MODE_APPEND, window_, property, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_timestamp_t time = XCB_CURRENT_TIME;
        WaitFor(
            [&](const xcb_generic_event_t& e) {
                if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
                const auto& n = reinterpret_cast<const xcb_property_notify_event_t&>(e);
                if (n.window != window_ || n.atom != property) return false;
                time = n.time;
                return true;
            },
            false);
        return time;
    }

    // Asks the owner of `selection` for `target` into `property`. False when it refuses (or
    // there is no owner) or does not answer.
    bool Convert(xcb_atom_t selection, xcb_atom_t target, xcb_atom_t property, xcb_timestamp_t time, bool& refused) {
        // The owner asked is the one before and after the request, when they are the same;
        // when another program took the clipboard meanwhile, which one was asked is not known.
        const xcb_window_t before = Owner(selection);
        xcb_convert_selection(c(), window_, selection, target, property, time);
        const xcb_window_t after = Owner(selection);
        asked_ = before == after ? after : xcb_window_t{XCB_WINDOW_NONE};
        refused = false;
        const bool answered = WaitFor(
            [&](const xcb_generic_event_t& e) {
                if ((e.response_type & 0x7f) != XCB_SELECTION_NOTIFY) return false;
                const auto& n = reinterpret_cast<const xcb_selection_notify_event_t&>(e);
                if (n.requestor != window_ || n.selection != selection) return false;
                refused = n.property == XCB_ATOM_NONE;
                return true;
            },
            true);
        return answered && !refused;
    }

    // The whole property, deleted as it is read (which tells an incremental sender to go on).
    Reply<xcb_get_property_reply_t> TakeProperty(xcb_atom_t property) {
        // The length is in 32-bit units; a property never holds more than the server allows
        // for one request, so this reads it whole.
        const auto cookie = xcb_get_property(c(), 1, window_, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x3fffffff);
        return Reply<xcb_get_property_reply_t>(xcb_get_property_reply(c(), cookie, nullptr));
    }

private:
    std::unique_ptr<xcb_connection_t, Disconnect> connection_;
    xcb_window_t window_ = 0;
    xcb_window_t asked_ = XCB_WINDOW_NONE;  // the owner asked last
    const std::atomic<bool>& cancelled_;
    int wake_;
    int quietMs_;
};

}  // namespace

SelectionFetch::SelectionFetch(Options options, std::function<void()> done)
    : options_(std::move(options)), done_(std::move(done)) {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    worker_ = std::thread([this] { Run(); });
}

SelectionFetch::~SelectionFetch() {
    Cancel();
    if (worker_.joinable()) worker_.join();
    if (wake_ >= 0) ::close(wake_);
}

void SelectionFetch::Cancel() {
    cancelled_.store(true);
    if (wake_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
    }
}

SelectionFetch::Outcome SelectionFetch::Wait(QImage& image) {
    if (worker_.joinable()) worker_.join();
    const Outcome outcome = outcome_.load();
    if (outcome == Outcome::Read) image = image_;
    return outcome;
}

void SelectionFetch::Run() {
    Outcome outcome = Outcome::Failed;
    try {
        QByteArray type;
        std::optional<QByteArray> bytes = Transfer(type);
        if (bytes && !cancelled_.load()) {
            if (type.isEmpty()) {
                outcome = Outcome::NoPicture;
            } else {
                // The picture in the display's format, as the device bitmap holds it.
                QImage image = QImage::fromData(*bytes);
                bytes.reset();
                const QImage::Format display = options_.format;
                if (!image.isNull() && display != QImage::Format_Indexed8 && image.format() != QImage::Format_Mono &&
                    image.format() != display)
                    image = image.convertToFormat(display);
                if (!cancelled_.load()) rows_ = QtGdi::MakeRowsAhead(image);
                image_ = std::move(image);
                outcome = cancelled_.load() ? Outcome::Failed : Outcome::Read;
            }
        }
    } catch (...) {
        image_ = QImage();
        rows_.reset();
        outcome = Outcome::Failed;  // out of memory: the picture is read the usual way, if at all
    }
    outcome_.store(outcome);
    finished_.store(true);
    if (done_) done_();
}

// The bytes of the first picture type the owner offers that can be read, PNG first; `type`
// empty (and no bytes) when there is none. Nothing when the transfer failed.
std::optional<QByteArray> SelectionFetch::Transfer(QByteArray& type) {
    type.clear();
    if (wake_ < 0) return std::nullopt;
    Requestor x(options_.display, cancelled_, wake_, options_.quietMs);
    if (!x.Ok()) return std::nullopt;

    std::vector<QByteArray> names = {options_.selection, "TARGETS", "INCR", "ZUMELKO_SELECTION"};
    const std::vector<xcb_atom_t> fixed = x.Atoms(names, false);
    const xcb_atom_t selection = fixed[0], targets = fixed[1], incr = fixed[2], property = fixed[3];
    std::vector<QByteArray> pictureTypes = {"image/png"};
    for (const QByteArray& t : options_.readable)
        if (t != "image/png") pictureTypes.push_back(t);
    // A type the server has no atom for is offered by nobody.
    const std::vector<xcb_atom_t> pictureAtoms = x.Atoms(pictureTypes, true);

    const xcb_timestamp_t time = x.Now(property);
    // Whoever owns the clipboard now is asked; while it may still write to our window, the
    // window stays, even when the fetch is cancelled: a property written to a window that is
    // gone is an error that ends many a program (xclip among them), and the clipboard with it.
    if (x.Owner(selection) == XCB_WINDOW_NONE) return QByteArray();  // nothing on the clipboard
    bool refused = false;
    if (!x.Convert(selection, targets, property, time, refused)) {

        if (refused) return QByteArray();  // no owner, or one that offers nothing
        return std::nullopt;
    }
    if (cancelled_.load()) return std::nullopt;
    const auto offered = x.TakeProperty(property);
    if (!offered) return std::nullopt;
    std::vector<xcb_atom_t> offeredAtoms;
    if (offered->format == 32 && offered->type != incr) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(offered.get()));
        offeredAtoms.assign(atoms, atoms + xcb_get_property_value_length(offered.get()) / 4);
    }
    auto isOffered = [&](xcb_atom_t a) {
        return a != XCB_ATOM_NONE && std::find(offeredAtoms.begin(), offeredAtoms.end(), a) != offeredAtoms.end();
    };
    // PNG when it is offered, else the first offered type a picture can be read from, as Qt
    // picks it.
    std::size_t chosen = isOffered(pictureAtoms[0]) ? 0 : pictureAtoms.size();
    for (std::size_t i = 0; chosen == pictureAtoms.size() && i < offeredAtoms.size(); ++i) {
        const auto k = std::find(pictureAtoms.begin() + 1, pictureAtoms.end(), offeredAtoms[i]);
        if (offeredAtoms[i] != XCB_ATOM_NONE && k != pictureAtoms.end())
            chosen = static_cast<std::size_t>(k - pictureAtoms.begin());
    }
    if (chosen == pictureAtoms.size()) return QByteArray();
    const xcb_atom_t target = pictureAtoms[chosen];
    type = pictureTypes[chosen];

    if (!x.Convert(selection, target, property, time, refused) || cancelled_.load()) return std::nullopt;
    auto first = x.TakeProperty(property);
    if (!first) return std::nullopt;
    if (first->type != incr) {
        const auto length = static_cast<std::size_t>(xcb_get_property_value_length(first.get()));
        if (length > options_.maxBytes) return std::nullopt;
        return QByteArray(static_cast<const char*>(xcb_get_property_value(first.get())), static_cast<qsizetype>(length));
    }
    // Incremental: the owner puts one piece after another into the property, each after the
    // one before was deleted, and an empty piece last. The size it announced is a lower bound.
    QByteArray bytes;
    if (xcb_get_property_value_length(first.get()) >= 4) {
        std::uint32_t announced = 0;
        std::memcpy(&announced, xcb_get_property_value(first.get()), 4);
        bytes.reserve(static_cast<qsizetype>(std::min<std::size_t>(announced, options_.maxBytes)));
    }
    first.reset();
    for (;;) {
        // The next piece is due once the last was deleted; when cancelled, it is waited for
        // and left where it is.
        const bool more = x.WaitFor(
            [&](const xcb_generic_event_t& e) {
                if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
                const auto& n = reinterpret_cast<const xcb_property_notify_event_t&>(e);
                return n.window == x.Window() && n.atom == property && n.state == XCB_PROPERTY_NEW_VALUE;
            },
            true);
        if (!more || cancelled_.load()) return std::nullopt;
        const auto piece = x.TakeProperty(property);
        if (!piece) return std::nullopt;
        const auto length = static_cast<std::size_t>(xcb_get_property_value_length(piece.get()));
        if (length == 0) return bytes;
        if (static_cast<std::size_t>(bytes.size()) + length > options_.maxBytes) return std::nullopt;
        bytes.append(static_cast<const char*>(xcb_get_property_value(piece.get())), static_cast<qsizetype>(length));
    }
}

}  // namespace zumelko::platform::qt
