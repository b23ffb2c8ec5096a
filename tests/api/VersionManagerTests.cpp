#include "TestSupport.h"
#include "plugin/PluginProcessor.h"

#include <chrono>
#include <cstdlib>
#include <iostream>

namespace
{

using cvx::VersionManager;

/** What the test server does with each connection it accepts. */
enum class Behaviour
{
    answer, // reads the request, sends the current reply and closes
    close,  // closes the connection at once, before reading anything
    hold,   // reads the request and keeps the connection open without a word until released
};

/** A one-route HTTP server on 127.0.0.1 with an ephemeral port. It handles each connection as
    its current behaviour says; the request lines it reads are recorded. */
class TinyHttpServer : private juce::Thread
{
public:
    explicit TinyHttpServer (Behaviour initialBehaviour = Behaviour::answer)
        : juce::Thread ("Tiny HTTP server"), behaviour (initialBehaviour)
    {
        if (listener.createListener (0, "127.0.0.1"))
            startThread();
    }

    ~TinyHttpServer() override
    {
        stopThread (5000);
        listener.close();
    }

    bool isListening() const { return isThreadRunning() && listener.getBoundPort() > 0; }
    int getPort() const { return listener.getBoundPort(); }

    /** The address the version manager queries, on this server. */
    juce::String getAddress() const
    {
        return "http://127.0.0.1:" + juce::String (getPort()) + "/product_version";
    }

    void setBehaviour (Behaviour newBehaviour) { behaviour = newBehaviour; }

    void setReply (const juce::String& statusLine, const juce::String& contentType, const juce::String& body)
    {
        const juce::ScopedLock sl (lock);
        reply = "HTTP/1.1 " + statusLine + "\r\n"
                "Content-Type: " + contentType + "\r\n"
                "Content-Length: " + juce::String (body.getNumBytesAsUTF8()) + "\r\n"
                "Connection: close\r\n"
                "\r\n" + body;
    }

    juce::StringArray getRequestLines() const
    {
        const juce::ScopedLock sl (lock);
        return requestLines;
    }

    int getNumRequests() const { return getRequestLines().size(); }
    int getNumConnections() const { return connections.load(); }
    int getNumAnswered() const { return answered.load(); }

    void clearRequests()
    {
        const juce::ScopedLock sl (lock);
        requestLines.clear();
        answered = 0;
        connections = 0;
    }

    /** Sends the current reply on every held connection and closes it. Any thread. */
    void releaseHeldConnections()
    {
        const juce::ScopedLock sl (lock);
        for (auto& client : held)
            respond (*client, reply);
        held.clear();
    }

private:
    void run() override
    {
        while (! threadShouldExit())
        {
            if (listener.waitUntilReady (true, 20) != 1)
                continue;

            std::unique_ptr<juce::StreamingSocket> client { listener.waitForNextConnection() };
            if (client == nullptr)
                continue;

            ++connections;
            switch (behaviour.load())
            {
                case Behaviour::close:
                    client->close();
                    break;

                case Behaviour::answer:
                    answer (*client);
                    break;

                case Behaviour::hold:
                {
                    readRequest (*client);
                    const juce::ScopedLock sl (lock);
                    held.push_back (std::move (client));
                    break;
                }
            }
        }
    }

    void readRequest (juce::StreamingSocket& client)
    {
        juce::MemoryBlock received;
        const auto headerEnd = [&] { return received.toString().contains ("\r\n\r\n"); };

        for (int waited = 0; ! headerEnd() && waited < 100 && ! threadShouldExit(); ++waited)
        {
            if (client.waitUntilReady (true, 50) != 1)
                continue;

            char buffer[1024];
            const auto n = client.read (buffer, (int) sizeof (buffer), false);
            if (n <= 0)
                break;
            received.append (buffer, (size_t) n);
        }

        const juce::ScopedLock sl (lock);
        requestLines.add (received.toString().upToFirstOccurrenceOf ("\r\n", false, false));
    }

    void answer (juce::StreamingSocket& client)
    {
        readRequest (client);

        juce::String response;
        {
            const juce::ScopedLock sl (lock);
            response = reply;
        }

        // Counted before the reply goes out: once the client has read it, the test may look at
        // the count at once, while this thread may not yet have been scheduled again.
        ++answered;
        respond (client, response);
    }

    static void respond (juce::StreamingSocket& client, const juce::String& response)
    {
        client.write (response.toRawUTF8(), (int) response.getNumBytesAsUTF8());
        client.close();
    }

    juce::StreamingSocket listener;
    std::atomic<Behaviour> behaviour;
    juce::CriticalSection lock;
    juce::String reply;
    juce::StringArray requestLines;
    std::vector<std::unique_ptr<juce::StreamingSocket>> held;
    std::atomic<int> answered { 0 }, connections { 0 };
};

/** Milliseconds that the call takes, on a steady clock. */
template <typename Function>
double millisecondsTaken (Function&& function)
{
    const auto start = std::chrono::steady_clock::now();
    function();
    return std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count();
}

/** A destruction that waited for the service would take the request's time-out (seconds);
    an aborted one takes milliseconds. */
constexpr double destructionBoundMs = 1000.0;

void reportTime (const juce::String& what, double ms)
{
    std::cout << "[ time     ] " << what << ": " << juce::String (ms, 2) << " ms" << std::endl;
}

class VersionQueryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A proxy from the environment would carry loopback requests off the machine.
        setenv ("no_proxy", "*", 1);
        setenv ("NO_PROXY", "*", 1);
        ASSERT_TRUE (cvx::api::url.startsWith ("http://127.0.0.1")) << cvx::api::url;
    }
};

TEST (VersionManager, ComparesDottedNumbersWithTheBuiltInVersion)
{
    // The version the build gives the product.
    ASSERT_EQ (VersionManager::currentVersion, CVX_PRODUCT_VERSION);
    ASSERT_EQ (VersionManager::productName, "Vyx");

    struct Case { const char* reply; bool newer; };
    const Case cases[] = {
        { "0.8.0",     false },
        { "0.8.1",     true  },
        { "1.0",       true  },
        { "0.7.9",     false },
        { "0.8",       false },
        { "0.8.0.1",   true  },
        { "0.8.0.0",   false },
        { "0.8.0.0.5", false },  // only the first extra component counts
        { "0.10.0",    true  },  // numeric, not text order
        { "0.08.1",    true  },
        { "0.9",       true  },
        { "v0.9",      false },
        { "0.8.1\n",   false },
        { " 0.9",      false },
        { "",          false },
        { "0.9.x",     false },
        { "..",        false },
        { "0..1",      false },  // the empty middle component counts as 0, below 8
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String ("reply \"") + c.reply + "\"");
        EXPECT_EQ (VersionManager::isNewer (c.reply, "0.8.0"), c.newer);
    }

    // The same rules against the built-in version, whichever it is.
    const auto current = VersionManager::currentVersion;
    const auto nextMajor = juce::String (current.upToFirstOccurrenceOf (".", false, false).getIntValue() + 1);
    struct BuiltInCase { juce::String reply; bool newer; };
    const BuiltInCase builtInCases[] = {
        { current,           false },
        { current + ".1",    true  },
        { current + ".0",    false },
        { nextMajor,         true  },
        { nextMajor + ".0",  true  },
        { "v" + current,     false },
        { current + "\n",    false },
        { " " + current,     false },
    };

    for (const auto& c : builtInCases)
    {
        SCOPED_TRACE ("reply \"" + c.reply + "\"");
        EXPECT_EQ (VersionManager::isNewer (c.reply, current), c.newer);
    }
}

TEST (VersionManager, EndpointIsTheServiceAddressPlusProductVersion)
{
    EXPECT_EQ (cvx::api::product_version, cvx::api::url + "/product_version");
    EXPECT_FALSE (cvx::api::url.endsWithChar ('/'));
    EXPECT_TRUE (cvx::api::url.startsWith ("http://") || cvx::api::url.startsWith ("https://"));
}

TEST_F (VersionQueryTest, QueriesTheServiceOnceAndRaisesTheFlagOnlyForANewerVersion)
{
    TinyHttpServer server;
    ASSERT_TRUE (server.isListening());
    const auto address = server.getAddress();

    struct Case { const char* name; const char* status; const char* type; const char* body; bool flag; };
    const Case cases[] = {
        { "newer",            "200 OK",        "text/plain", "0.9.0",   true  },
        { "equal",            "200 OK",        "text/plain", CVX_PRODUCT_VERSION, false },
        { "trailing newline", "200 OK",        "text/plain", "0.9.0\n", false },
        { "error page",       "404 Not Found", "text/html",
          "<html><body><h1>404 Not Found</h1><p>1.0</p></body></html>", false },
        { "empty body",       "200 OK",        "text/plain", "",        false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        server.clearRequests();
        server.setReply (c.status, c.type, c.body);

        VersionManager manager (address);
        ASSERT_TRUE (manager.waitForCompletion (20000));

        EXPECT_EQ (server.getNumAnswered(), 1);
        const auto requests = server.getRequestLines();
        ASSERT_EQ (requests.size(), 1);

        juce::StringArray words;
        words.addTokens (requests[0], " ", "");
        ASSERT_EQ (words.size(), 3) << requests[0];
        EXPECT_EQ (words[0], "GET");
        EXPECT_EQ (words[1], "/product_version?product=Vyx");
        EXPECT_TRUE (words[2].startsWith ("HTTP/1."));

        EXPECT_EQ (manager.isNewVersionAvailable(), c.flag);
    }
}

TEST_F (VersionQueryTest, NothingListeningLeavesTheFlagFalse)
{
    // The default address; the test build points it at the closed port 127.0.0.1:9.
    ASSERT_EQ (cvx::api::product_version, "http://127.0.0.1:9/product_version");

    VersionManager manager;
    ASSERT_TRUE (manager.waitForCompletion (20000));
    EXPECT_FALSE (manager.isNewVersionAvailable());
}

TEST_F (VersionQueryTest, ProcessorsAliveTogetherShareOneManager)
{
    std::unique_ptr<juce::AudioProcessor> first (createPluginFilter());
    std::unique_ptr<juce::AudioProcessor> second (createPluginFilter());

    auto& firstState = dynamic_cast<cvx::AudioProcessor&> (*first).state;
    auto& secondState = dynamic_cast<cvx::AudioProcessor&> (*second).state;

    EXPECT_EQ (&firstState.versionManager.getObject(), &secondState.versionManager.getObject());
    EXPECT_EQ (firstState.versionManager.getReferenceCount(), 2);

    first.reset();
    EXPECT_EQ (secondState.versionManager.getReferenceCount(), 1);

    EXPECT_TRUE (secondState.versionManager->waitForCompletion (20000));
    EXPECT_FALSE (secondState.versionManager->isNewVersionAvailable());
}

TEST_F (VersionQueryTest, DestroyingTheManagerReturnsPromptlyWhateverTheServiceDoes)
{
    struct Case { const char* name; Behaviour behaviour; };
    const Case cases[] = {
        { "answers at once",            Behaviour::answer },
        { "closes at once",             Behaviour::close  },
        { "accepts and never answers",  Behaviour::hold   },
    };

    for (const auto& c : cases)
    {
        // One instance, then two in a row (as a host's scan creates and destroys them).
        for (const int instances : { 1, 2 })
        {
            SCOPED_TRACE (juce::String (c.name) + ", " + juce::String (instances) + " in a row");
            TinyHttpServer server (c.behaviour);
            ASSERT_TRUE (server.isListening());
            server.setReply ("200 OK", "text/plain", "0.9.0");

            for (int i = 1; i <= instances; ++i)
            {
                auto manager = std::make_unique<VersionManager> (server.getAddress());

                // Destroyed once the server has the connection and, when it reads one, the
                // request: a held query is then waiting for its reply.
                ASSERT_TRUE (vyx::test::runMessageLoopUntil ([&]
                {
                    return server.getNumConnections() == i
                        && (c.behaviour == Behaviour::close || server.getNumRequests() == i);
                }, 10000));

                if (c.behaviour != Behaviour::answer)
                {
                    EXPECT_FALSE (manager->isNewVersionAvailable());
                }

                const auto ms = millisecondsTaken ([&] { manager.reset(); });
                EXPECT_LT (ms, destructionBoundMs);
                reportTime (juce::String (c.name) + ", instance " + juce::String (i) + " of "
                                + juce::String (instances), ms);
            }

            // One query per manager.
            EXPECT_EQ (server.getNumConnections(), instances);
        }
    }
}

TEST_F (VersionQueryTest, ConcurrentCreateAndDestroyWhileTheServiceHoldsOrAnswers)
{
    TinyHttpServer server;
    ASSERT_TRUE (server.isListening());
    server.setReply ("200 OK", "text/plain", "0.9.0");

    // Each behaviour meets each moment of destruction: before the thread has connected,
    // while it connects, and with the query at the server.
    const Behaviour behaviours[] = { Behaviour::hold, Behaviour::answer, Behaviour::close };
    const int waitsMs[] = { 0, 1, 5, -1 }; // -1: until the server has the connection

    double longestMs = 0.0;
    for (int round = 0; round < 4; ++round)
    {
        for (const auto behaviour : behaviours)
        {
            for (const int waitMs : waitsMs)
            {
                server.setBehaviour (behaviour);
                const int connectionsBefore = server.getNumConnections();
                auto manager = std::make_unique<VersionManager> (server.getAddress());

                if (waitMs < 0)
                {
                    ASSERT_TRUE (vyx::test::runMessageLoopUntil ([&]
                    {
                        return server.getNumConnections() > connectionsBefore;
                    }, 10000));
                }
                else if (waitMs > 0)
                {
                    juce::Thread::sleep (waitMs);
                }

                // Read while the manager's thread may be writing it.
                const bool flag = manager->isNewVersionAvailable();
                EXPECT_TRUE (! flag || behaviour == Behaviour::answer);

                const auto ms = millisecondsTaken ([&] { manager.reset(); });
                EXPECT_LT (ms, destructionBoundMs);
                longestMs = std::max (longestMs, ms);
            }
        }
    }

    reportTime ("longest of 48 destructions", longestMs);
}

/** Sends this process's plain-HTTP requests through the given loopback server as a proxy, for
    its lifetime: the built-in service address (a closed loopback port in test builds) then
    reaches the server, which sees that address in its request lines. */
class ScopedLoopbackProxy
{
public:
    explicit ScopedLoopbackProxy (const TinyHttpServer& proxy)
    {
        unsetenv ("no_proxy");
        unsetenv ("NO_PROXY");
        setenv ("http_proxy", ("http://127.0.0.1:" + juce::String (proxy.getPort())).toRawUTF8(), 1);
    }

    ~ScopedLoopbackProxy()
    {
        unsetenv ("http_proxy");
        setenv ("no_proxy", "*", 1);
        setenv ("NO_PROXY", "*", 1);
    }
};

TEST_F (VersionQueryTest, RemovingTheLastProcessorWhileTheServiceHoldsTheQueryReturnsPromptly)
{
    TinyHttpServer server (Behaviour::hold);
    ASSERT_TRUE (server.isListening());
    const ScopedLoopbackProxy proxy (server);

    // Two instances alive together share one query; once both are gone, the next instance
    // asks again.
    for (int round = 1; round <= 2; ++round)
    {
        SCOPED_TRACE ("round " + juce::String (round));
        std::unique_ptr<juce::AudioProcessor> first (createPluginFilter());
        std::unique_ptr<juce::AudioProcessor> second (createPluginFilter());
        ASSERT_TRUE (vyx::test::runMessageLoopUntil ([&] { return server.getNumRequests() == round; }, 10000));

        first.reset();
        const auto ms = millisecondsTaken ([&] { second.reset(); });
        EXPECT_LT (ms, destructionBoundMs);
        reportTime ("last processor, round " + juce::String (round), ms);
    }

    const auto requests = server.getRequestLines();
    ASSERT_EQ (requests.size(), 2);
    for (const auto& line : requests)
        EXPECT_TRUE (line.startsWith ("GET " + cvx::api::product_version + "?product=Vyx HTTP/1.")) << line;
}

/** Runs a step once every other static object of the process has been destroyed: it is
    constructed before all of them (the earliest priority a program may ask for), so it is
    destroyed after them. */
struct AfterStaticDestruction
{
    AfterStaticDestruction() {}

    ~AfterStaticDestruction()
    {
        if (step != nullptr)
            step();
    }

    void (*step)() = nullptr;
};

__attribute__ ((init_priority (101))) AfterStaticDestruction afterStaticDestruction;

[[noreturn]] void exitWhileAQueryIsHeld()
{
    // Nothing destroys these, as when a host quits without destroying its plug-ins; held by
    // statics, so that the leak checker finds them reachable.
    static auto* server = new TinyHttpServer (Behaviour::hold);
    server->setReply ("200 OK", "text/plain", "0.9.0");
    static auto* manager = new VersionManager (server->getAddress());

    if (! vyx::test::runMessageLoopUntil ([] { return server->getNumRequests() == 1; }, 10000))
        std::_Exit (2);

    // When the exit handlers have freed every static, the service answers, and the query
    // finishes its work: a read of anything freed is a sanitizer report.
    afterStaticDestruction.step = []
    {
        server->releaseHeldConnections();

        if (! manager->waitForCompletion (10000))
            std::_Exit (3);

        if (! manager->isNewVersionAvailable())
            std::_Exit (4);
    };

    // This runs in a child process of its own (the thread-safe death-test style), whose home
    // folder nothing else uses.
    vyx::test::getTestHome().deleteRecursively();
    std::exit (0);
}

TEST_F (VersionQueryTest, ExitingWhileAQueryIsHeldFreesNothingTheQueryReads)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    EXPECT_EXIT (exitWhileAQueryIsHeld(), ::testing::ExitedWithCode (0), "");
}

} // namespace
