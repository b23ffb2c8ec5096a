#include "TestSupport.h"
#include "plugin/PluginProcessor.h"

#include <cstdlib>

namespace
{

using cvx::VersionManager;

/** A one-route HTTP server on 127.0.0.1 with an ephemeral port. Each connection gets the
    current reply and is closed; the request lines are recorded. */
class TinyHttpServer : private juce::Thread
{
public:
    TinyHttpServer() : juce::Thread ("Tiny HTTP server")
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

    int getNumAnswered() const { return answered.load(); }

    void clearRequests()
    {
        const juce::ScopedLock sl (lock);
        requestLines.clear();
        answered = 0;
    }

private:
    void run() override
    {
        while (! threadShouldExit())
        {
            if (listener.waitUntilReady (true, 20) != 1)
                continue;

            if (std::unique_ptr<juce::StreamingSocket> client { listener.waitForNextConnection() })
                answer (*client);
        }
    }

    void answer (juce::StreamingSocket& client)
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

        juce::String response;
        {
            const juce::ScopedLock sl (lock);
            requestLines.add (received.toString().upToFirstOccurrenceOf ("\r\n", false, false));
            response = reply;
        }

        // Counted before the reply goes out: once the client has read it, the test may look at
        // the count at once, while this thread may not yet have been scheduled again.
        ++answered;
        client.write (response.toRawUTF8(), (int) response.getNumBytesAsUTF8());
        client.close();
    }

    juce::StreamingSocket listener;
    juce::CriticalSection lock;
    juce::String reply;
    juce::StringArray requestLines;
    std::atomic<int> answered { 0 };
};

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
    const auto address = "http://127.0.0.1:" + juce::String (server.getPort()) + "/product_version";

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

} // namespace
