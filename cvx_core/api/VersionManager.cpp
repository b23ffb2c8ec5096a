#if JUCE_LINUX && JUCE_USE_CURL && ! JUCE_LOAD_CURL_SYMBOLS_LAZILY
 #include <curl/curl.h>
 #define CVX_VERSION_REQUEST_USES_CURL (LIBCURL_VERSION_NUM >= 0x074400) // curl_multi_wakeup
#else
 #define CVX_VERSION_REQUEST_USES_CURL 0
#endif

#include <mutex>

namespace cvx
{

const juce::String VersionManager::currentVersion { CVX_PRODUCT_VERSION };
const juce::String VersionManager::productName { CVX_PRODUCT_NAME };

//==============================================================================
/** One GET request that another thread can abort at any moment, before or during the
    transfer. The framework's curl stream can be cancelled too, but its reading thread only
    notices once its select() times out, up to a second later; here the transfer waits in
    libcurl's own poll, which abort() wakes at once. */
class VersionManager::Request
{
public:
    /** The constructing thread. */
    explicit Request (const juce::String& urlToGet);

    /** Runs the transfer to its end and returns the reply body: empty when the request failed
        or was aborted. The connection gives up after timeoutMs without a connection, or when
        the reply stalls for as long. The manager's thread. */
    juce::String fetch (int timeoutMs);

    /** Makes a transfer under way, or one yet to start, give up at once. Any thread. */
    void abort();

private:
    bool isAborted();

    const juce::String url;
    std::mutex lock;
    bool aborted = false; // guarded by lock

   #if CVX_VERSION_REQUEST_USES_CURL
    bool setOptions (CURL* easy, juce::MemoryBlock& body, int timeoutMs) const;
    bool transfer (CURLM* transfers);

    CURLM* running = nullptr; // guarded by lock: the transfer abort() wakes, while it runs
   #else
    juce::WebInputStream* running = nullptr; // guarded by lock
   #endif
};

VersionManager::Request::Request (const juce::String& urlToGet) : url (urlToGet)
{
   #if CVX_VERSION_REQUEST_USES_CURL
    // libcurl's one-time set-up, made here rather than by the first transfer. The libraries it
    // starts keep some state per thread, and that of a thread ending after their exit handlers
    // is never freed (a leak report whenever a process exits during a query); made here, it
    // belongs to the thread that creates the manager, which lives on to the end.
    [[maybe_unused]] static const bool started = curl_global_init (CURL_GLOBAL_DEFAULT) == CURLE_OK;
   #endif
}

void VersionManager::Request::abort()
{
    const std::lock_guard<std::mutex> guard (lock);
    aborted = true;

    if (running != nullptr)
    {
       #if CVX_VERSION_REQUEST_USES_CURL
        curl_multi_wakeup (running);
       #else
        running->cancel();
       #endif
    }
}

bool VersionManager::Request::isAborted()
{
    const std::lock_guard<std::mutex> guard (lock);
    return aborted;
}

#if CVX_VERSION_REQUEST_USES_CURL

juce::String VersionManager::Request::fetch (int timeoutMs)
{
    CURL* const easy = curl_easy_init();
    CURLM* const transfers = curl_multi_init();
    juce::MemoryBlock body;
    bool succeeded = false;

    if (easy != nullptr && transfers != nullptr && setOptions (easy, body, timeoutMs)
        && curl_multi_add_handle (transfers, easy) == CURLM_OK)
    {
        bool started = false;
        {
            const std::lock_guard<std::mutex> guard (lock);
            started = ! aborted;
            running = transfers;
        }

        succeeded = started && transfer (transfers);

        {
            // From here on abort() no longer touches the handles that are cleaned up below.
            const std::lock_guard<std::mutex> guard (lock);
            running = nullptr;
        }

        curl_multi_remove_handle (transfers, easy);
    }

    if (transfers != nullptr)
        curl_multi_cleanup (transfers);

    if (easy != nullptr)
        curl_easy_cleanup (easy);

    return succeeded ? juce::String::createStringFromData (body.getData(), (int) body.getSize())
                     : juce::String();
}

bool VersionManager::Request::setOptions (CURL* easy, juce::MemoryBlock& body, int timeoutMs) const
{
    const auto append = +[] (char* data, size_t size, size_t count, void* block) -> size_t
    {
        static_cast<juce::MemoryBlock*> (block)->append (data, size * count);
        return size * count;
    };

    // The request the framework's own stream would make: redirects followed, the same agent,
    // and a stall of the reply ends it like a failed connection does.
    const auto agent = juce::String ("curl/") + curl_version_info (CURLVERSION_NOW)->version;
    const auto stallSeconds = (long) ((timeoutMs + 999) / 1000);

    return curl_easy_setopt (easy, CURLOPT_URL, url.toRawUTF8()) == CURLE_OK
        && curl_easy_setopt (easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        && curl_easy_setopt (easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK
        && curl_easy_setopt (easy, CURLOPT_MAXREDIRS, 5L) == CURLE_OK
        && curl_easy_setopt (easy, CURLOPT_USERAGENT, agent.toRawUTF8()) == CURLE_OK
        && curl_easy_setopt (easy, CURLOPT_CONNECTTIMEOUT_MS, (long) timeoutMs) == CURLE_OK
        && curl_easy_setopt (easy, CURLOPT_LOW_SPEED_LIMIT, 100L) == CURLE_OK
        && curl_easy_setopt (easy, CURLOPT_LOW_SPEED_TIME, stallSeconds) == CURLE_OK
        && curl_easy_setopt (easy, CURLOPT_WRITEFUNCTION, append) == CURLE_OK
        && curl_easy_setopt (easy, CURLOPT_WRITEDATA, &body) == CURLE_OK;
}

bool VersionManager::Request::transfer (CURLM* transfers)
{
    for (;;)
    {
        int stillRunning = 0;
        if (curl_multi_perform (transfers, &stillRunning) != CURLM_OK)
            return false;

        if (stillRunning == 0)
            break;

        // Returns when the connection is ready, at libcurl's next time-out, or at abort().
        if (curl_multi_poll (transfers, nullptr, 0, 1000, nullptr) != CURLM_OK || isAborted())
            return false;
    }

    int queued = 0;
    const auto* message = curl_multi_info_read (transfers, &queued);
    return message != nullptr && message->msg == CURLMSG_DONE && message->data.result == CURLE_OK;
}

#else

juce::String VersionManager::Request::fetch (int timeoutMs)
{
    juce::WebInputStream stream (juce::URL (url), false);
    stream.withConnectionTimeout (timeoutMs);

    {
        const std::lock_guard<std::mutex> guard (lock);
        if (aborted)
            return {};
        running = &stream;
    }

    juce::String reply;
    if (stream.connect (nullptr) && ! stream.isError())
        reply = stream.readEntireStreamAsString();

    const std::lock_guard<std::mutex> guard (lock);
    running = nullptr;
    return aborted ? juce::String() : reply;
}

#endif

//==============================================================================
VersionManager::VersionManager() : VersionManager (api::product_version) {}

VersionManager::VersionManager (const juce::String& productVersionAddress)
    : juce::Thread (CVX_PRODUCT_NAME " - Version Manager"),
      builtInVersion (CVX_PRODUCT_VERSION),
      request (std::make_unique<Request> (juce::URL (productVersionAddress)
                                              .withParameter ("product", CVX_PRODUCT_NAME)
                                              .toString (true)))
{
    startThread (juce::Thread::Priority::background);
}

VersionManager::~VersionManager()
{
    signalThreadShouldExit();
    request->abort();

    // Aborted, the request returns at once, so this join is short. The thread is never
    // killed instead: killed in a network call, it could leave the HTTP library's locks taken.
    waitForThreadToExit (-1);
}

bool VersionManager::isNewer (const juce::String& reply, const juce::String& current)
{
    if (! reply.containsOnly ("0123456789."))
        return false;

    juce::StringArray remote, local;
    remote.addTokens (reply, ".", "");
    local.addTokens (current, ".", "");

    const int common = std::min (remote.size(), local.size());
    for (int i = 0; i < common; ++i)
    {
        const int r = remote[i].getIntValue();
        const int l = local[i].getIntValue();
        if (r != l)
            return r > l;
    }

    // Only the first extra component counts: 0.8.0.1 is newer than 0.8.0, 0.8.0.0.5 is not.
    return remote.size() > local.size() && remote[local.size()].getIntValue() > 0;
}

void VersionManager::run()
{
    const auto reply = request->fetch (requestTimeoutMs);

    if (! threadShouldExit() && isNewer (reply, builtInVersion))
        newVersionAvailable.exchange (true);
}

} // namespace cvx
