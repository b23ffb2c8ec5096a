#include "Screenshot.h"
#include "PluginHost.h"

#include <optional>
#include <ostream>

// Xlib comes after the framework: its macros (None, Bool, Status, KeyPress...) would clash.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vyx::host
{

namespace
{
    constexpr int maxDimension = 8192;
    constexpr int settleTimeoutMs = 15000;

    std::optional<int> parseDimension (const juce::String& text)
    {
        const auto trimmed = text.trim();
        if (trimmed.isEmpty() || ! trimmed.containsOnly ("0123456789") || trimmed.length() > 5)
            return {};
        const int value = trimmed.getIntValue();
        if (value < 1 || value > maxDimension)
            return {};
        return value;
    }

    /** One connection to the X server, for reading windows back. */
    class XConnection
    {
    public:
        XConnection() : display (XOpenDisplay (nullptr)) {}
        ~XConnection()
        {
            if (display != nullptr)
                XCloseDisplay (display);
        }

        XConnection (const XConnection&) = delete;
        XConnection& operator= (const XConnection&) = delete;

        Display* display;
    };

    struct WindowInfo
    {
        ::Window window = 0;
        int width = 0, height = 0;
    };

    std::optional<WindowInfo> describe (Display* display, ::Window window)
    {
        XWindowAttributes attributes;
        if (XGetWindowAttributes (display, window, &attributes) == 0)
            return {};
        if (attributes.map_state != IsViewable || attributes.c_class != InputOutput)
            return {};
        return WindowInfo { window, attributes.width, attributes.height };
    }

    /** The plug-in's window: the largest viewable window inside the host's window (the
        plug-in's editor fills the frame the host embeds it in); the host's window itself when
        it has none. */
    std::optional<WindowInfo> findPluginWindow (Display* display, ::Window hostWindow)
    {
        auto best = describe (display, hostWindow);
        std::vector<::Window> pending { hostWindow };
        bool foundChild = false;

        while (! pending.empty())
        {
            const auto parent = pending.back();
            pending.pop_back();

            ::Window root = 0, parentOfParent = 0, *children = nullptr;
            unsigned int count = 0;
            if (XQueryTree (display, parent, &root, &parentOfParent, &children, &count) == 0)
                continue;

            for (unsigned int i = 0; i < count; ++i)
            {
                if (auto info = describe (display, children[i]))
                {
                    // Deeper windows of equal size win: they are the plug-in's own.
                    if (! foundChild || (long) info->width * info->height >= (long) best->width * best->height)
                    {
                        best = info;
                        foundChild = true;
                    }
                    pending.push_back (children[i]);
                }
            }

            if (children != nullptr)
                XFree (children);
        }
        return best;
    }

    int shiftOf (unsigned long mask)
    {
        int shift = 0;
        while (mask != 0 && (mask & 1) == 0)
        {
            mask >>= 1;
            ++shift;
        }
        return shift;
    }

    /** What the X server shows of a window, as an opaque image; invalid on failure. */
    juce::Image capture (Display* display, const WindowInfo& info)
    {
        XSync (display, False);
        XImage* pixels = XGetImage (display, info.window, 0, 0, (unsigned int) info.width,
                                    (unsigned int) info.height, AllPlanes, ZPixmap);
        if (pixels == nullptr)
            return {};

        const int redShift = shiftOf (pixels->red_mask), greenShift = shiftOf (pixels->green_mask),
                  blueShift = shiftOf (pixels->blue_mask);
        const auto channel = [] (unsigned long pixel, unsigned long mask, int shift)
        {
            const auto maximum = mask >> shift;
            return (juce::uint8) (maximum == 0 ? 0 : ((pixel & mask) >> shift) * 255 / maximum);
        };

        juce::Image image (juce::Image::RGB, info.width, info.height, false);
        {
            juce::Image::BitmapData out (image, juce::Image::BitmapData::writeOnly);
            for (int y = 0; y < info.height; ++y)
                for (int x = 0; x < info.width; ++x)
                {
                    const auto pixel = XGetPixel (pixels, x, y);
                    out.setPixelColour (x, y, juce::Colour (channel (pixel, pixels->red_mask, redShift),
                                                            channel (pixel, pixels->green_mask, greenShift),
                                                            channel (pixel, pixels->blue_mask, blueShift)));
                }
        }
        XDestroyImage (pixels);
        return image;
    }

    bool hasPainted (const juce::Image& image)
    {
        // The editor's background is black; its panels are not. A window that has not been
        // painted yet is all one colour.
        const auto first = image.getPixelAt (0, 0);
        for (int y = 0; y < image.getHeight(); y += 3)
            for (int x = 0; x < image.getWidth(); x += 3)
                if (image.getPixelAt (x, y) != first)
                    return true;
        return false;
    }

    void writePng (const juce::Image& image, const juce::File& file)
    {
        juce::TemporaryFile temporary (file);
        {
            juce::FileOutputStream stream (temporary.getFile());
            if (! stream.openedOk())
                throw CommandError { "cannot write " + file.getFullPathName() + ": " + stream.getStatus().getErrorMessage() };
            if (! juce::PNGImageFormat().writeImageToStream (image, stream))
                throw CommandError { "cannot encode " + file.getFullPathName() };
            stream.flush();
            if (stream.getStatus().failed())
                throw CommandError { "cannot write " + file.getFullPathName() + ": " + stream.getStatus().getErrorMessage() };
        }
        if (! temporary.overwriteTargetFileWithTemporary())
            throw CommandError { "cannot write " + file.getFullPathName() };
    }

    int screenshot (const Arguments& arguments, std::ostream& out, std::ostream&)
    {
        checkPositionalCount (arguments, { 1, 3 }, "an output file and an optional size (WIDTH HEIGHT)");
        const auto& words = arguments.positional;

        std::optional<int> width, height;
        if (words.size() == 3)
        {
            width = parseDimension (words[1]);
            height = parseDimension (words[2]);
            if (! width || ! height)
                throw UsageError { "the size must be two whole numbers from 1 to " + juce::String (maxDimension)
                                   + ", not " + words[1] + " x " + words[2] };
        }

        const auto file = fileArgument (words[0]);
        if (! file.getParentDirectory().isDirectory())
            throw CommandError { "cannot write " + file.getFullPathName() + ": no such folder" };

        XConnection x;
        if (x.display == nullptr)
            throw CommandError { "cannot open the X display (is DISPLAY set?)" };

        auto plugin = loadBundle (arguments.getBundle(), 48000.0, 512);

        std::unique_ptr<juce::AudioProcessorEditor> editor (plugin->createEditorIfNeeded());
        if (editor == nullptr)
            throw CommandError { "the plug-in opened no editor" };

        // The pointer goes to the far corner of the screen, away from the window, so that no
        // hover highlight depends on where it happened to rest.
        const auto root = DefaultRootWindow (x.display);
        XWarpPointer (x.display, 0, root, 0, 0, 0, 0,
                      DisplayWidth (x.display, DefaultScreen (x.display)) - 1,
                      DisplayHeight (x.display, DefaultScreen (x.display)) - 1);
        XSync (x.display, False);

        editor->setOpaque (true);
        editor->addToDesktop (juce::ComponentPeer::windowAppearsOnTaskbar);
        editor->setTopLeftPosition (20, 20);
        editor->setVisible (true);
        if (width && height)
            editor->setSize (*width, *height);

        auto* peer = editor->getPeer();
        if (peer == nullptr)
            throw CommandError { "cannot open a window" };
        const auto hostWindow = (::Window) (juce::pointer_sized_uint) peer->getNativeHandle();

        // Wait until the plug-in's window has the editor's size and has painted, then give it
        // a few more frames so that what is captured is a settled picture.
        juce::Image picture;
        std::optional<WindowInfo> window;
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) settleTimeoutMs;
        while (juce::Time::getMillisecondCounter() < deadline)
        {
            juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
            // The window manager's late answer to the window's first size can set the editor
            // back to it: the size asked for is given again until the window keeps it.
            if (width && height && (editor->getWidth() != *width || editor->getHeight() != *height))
            {
                editor->setSize (*width, *height);
                continue;
            }
            window = findPluginWindow (x.display, hostWindow);
            if (window && window->width == editor->getWidth() && window->height == editor->getHeight())
            {
                picture = capture (x.display, *window);
                if (picture.isValid() && hasPainted (picture))
                    break;
            }
            picture = {};
        }
        if (! picture.isValid())
            throw CommandError { "the plug-in's window did not paint within " + juce::String (settleTimeoutMs / 1000) + " s" };

        juce::MessageManager::getInstance()->runDispatchLoopUntil (300);
        picture = capture (x.display, *window);
        if (! picture.isValid())
            throw CommandError { "cannot read the plug-in's window back from the X server" };

        writePng (picture, file);
        out << "wrote " << file.getFullPathName() << " (" << picture.getWidth() << " x " << picture.getHeight() << ")" << std::endl;

        editor.reset();
        plugin.reset();
        return 0;
    }
} // namespace

juce::Image capturePluginWindow (juce::Component& hostEditor)
{
    auto* peer = hostEditor.getPeer();
    XConnection x;
    if (peer == nullptr || x.display == nullptr)
        return {};

    const auto window = findPluginWindow (x.display, (::Window) (juce::pointer_sized_uint) peer->getNativeHandle());
    return window ? capture (x.display, *window) : juce::Image();
}

const Command& getScreenshotCommand()
{
    static const Command command {
        "screenshot",
        "OUT.png [WIDTH HEIGHT]",
        "write a PNG of the plug-in's window",
        "Opens the plug-in's editor in a window on the X display (a window manager must run), at\n"
        "its own size or at WIDTH x HEIGHT pixels, and writes a PNG of what the plug-in's window\n"
        "shows.",
        {},
        screenshot,
    };
    return command;
}

} // namespace vyx::host
