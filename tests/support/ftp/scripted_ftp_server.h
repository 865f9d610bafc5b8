#pragma once

// A scripted FTP server for tests. It listens on 127.0.0.1 on a free port and
// serves one control connection at a time on a thread of its own.
//
// Out of the box it is a "happy" server: it greets, accepts any user and password,
// lists FEAT, answers TYPE, SYST, CWD, SIZE, PASV, PORT, REST, PRET, LIST, RETR
// and ABOR, and serves the files of a small virtual folder over passive or active
// data connections. Tests change what they need:
//
//   ScriptedFtpServer server;
//   server.addFile("a.txt", "hello");
//   server.reply("PASS", "530 Login incorrect.\r\n");          // fixed raw reply
//   server.on("CWD", [](FtpSession& s, const std::string& arg) {
//       s.sleep(std::chrono::milliseconds(300));
//       s.send("250 Now in " + arg + ".\r\n");
//   });
//   DataPlan slow;                                             // how RETR a.txt behaves
//   slow.chunkSize = 1; slow.chunkDelay = std::chrono::milliseconds(20);
//   server.setDataPlan("a.txt", slow);
//   ... run the client ...
//   EXPECT_EQ(server.commands(), (std::vector<std::string>{"USER u", "PASS p", ...}));
//
// Replies are raw text: the test writes the exact bytes, CR LF included, so that
// multi-line replies, bare LF, odd codes and partial lines are all possible.
// Every command line the server receives is recorded (without its line break).
// Handlers run on the server thread; they must only use the session they are given.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace taskhaul::test {

class ScriptedFtpServer;

// How one transfer (RETR of a file, or LIST) uses its data connection.
struct DataPlan {
    // Bytes to send; when empty, the file's content (RETR) or the listing (LIST).
    std::optional<std::string> bytes;
    // Send in pieces of this size (0: in one piece), pausing after each.
    std::size_t chunkSize = 0;
    std::chrono::milliseconds chunkDelay { 0 };
    // Close the data connection after this many bytes.
    std::optional<std::size_t> cutAfter;
    // Keep the data connection open and silent after sending (until ABOR or the
    // client closes it).
    bool stallAfterSending = false;
    // Active mode: never connect to the client. Passive mode: never accept (the
    // client's connect still completes through the listen backlog).
    bool neverConnect = false;
    // Reply to the command before the data flows; empty: a 150 reply that names
    // the size as "(<n> bytes)" for files.
    std::string preliminary;
    // Reply (or replies) after the data connection is closed.
    std::string final = "226 Transfer complete.\r\n";
    std::chrono::milliseconds finalDelay { 0 };
    // Replies when ABOR arrives during the transfer.
    std::string abortReplies = "426 Connection closed; transfer aborted.\r\n226 Abort successful.\r\n";
};

// One control connection, as handlers see it.
class FtpSession {
public:
    FtpSession(ScriptedFtpServer& server, int controlFd);
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Writes raw bytes on the control connection.
    void send(std::string_view raw);
    void sleep(std::chrono::milliseconds duration);
    // Closes the control connection; the session ends after the handler returns.
    void close();
    bool closed() const { return controlFd_ < 0; }

    // The data connection of the coming transfer: accepts on the passive
    // listener or connects to the PORT address. False when that fails.
    bool openData(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Sends bytes on the data connection, watching the control connection: returns
    // false when ABOR arrived (recorded, not answered) or the client closed the
    // data connection.
    bool sendData(std::string_view bytes, std::size_t chunkSize = 0,
        std::chrono::milliseconds chunkDelay = std::chrono::milliseconds(0));
    // Waits, watching the control connection, until ABOR arrives, the client
    // closes the data connection or the time runs out. True for ABOR.
    bool waitForAbort(std::chrono::milliseconds timeout);
    void closeData();
    // Runs a whole transfer by the plan: preliminary reply, data, final replies.
    void runTransfer(const DataPlan& plan, const std::string& content, bool isFile, const std::string& name);

    // Reads the next command line (without recording it); nullopt when closed.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);

    // Passive listener and PORT address of the session.
    void openPassiveListener();
    int passivePort() const { return passivePort_; }
    void setActiveAddress(std::string host, int port);
    std::int64_t restartOffset = 0;

private:
    friend class ScriptedFtpServer;
    bool abortSeen(std::chrono::milliseconds wait);

    ScriptedFtpServer& server_;
    int controlFd_;
    int passiveFd_ = -1;
    int dataFd_ = -1;
    int passivePort_ = 0;
    std::string activeHost_;
    int activePort_ = 0;
    std::string input_;
};

class ScriptedFtpServer {
public:
    using Handler = std::function<void(FtpSession& session, const std::string& argument)>;

    ScriptedFtpServer();
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    std::string host() const { return "127.0.0.1"; }
    int port() const { return port_; }

    // The greeting, raw ("220 ...\r\n" by default). An empty greeting means silence.
    void setGreeting(std::string raw);
    void setGreetingDelay(std::chrono::milliseconds delay);
    // Replaces the handling of a command verb (upper case, e.g. "RETR").
    void on(const std::string& verb, Handler handler);
    // Answers the verb with fixed raw text.
    void reply(const std::string& verb, std::string raw);
    // Answers successive uses of the verb with successive texts; the last one repeats.
    void replySequence(const std::string& verb, std::vector<std::string> raws);
    // Answers the verb with silence: nothing is sent.
    void silence(const std::string& verb);
    // Closes the control connection when the verb arrives, without replying.
    void closeOn(const std::string& verb);
    // The handling of a verb as it stands (to wrap it in a handler of a test's own).
    Handler handler(const std::string& verb) const { return handlerFor(verb); }

    // Serves every control connection on a thread of its own, at the same time.
    // With `most` above 0, a connection beyond `most` open at once is greeted with
    // `refusal` (raw) and closed. Call before the first connection.
    void serveConcurrently(int most = 0, std::string refusal = "421 Too many connections.\r\n");
    // The most control connections that were open at once.
    int mostSessionsAtOnce() const;

    // The virtual folder served by SIZE, RETR and LIST.
    void addFile(const std::string& name, std::string content);
    void setListing(std::string text);
    void setDataPlan(const std::string& nameOrList, DataPlan plan);
    // The address text the PASV reply announces ("127,0,0,1" by default).
    void setPassiveAddress(std::string commaSeparated);
    // Makes the PASV reply name this port instead of the real listener.
    void setPassivePortOverride(int port);
    // The FEAT reply, raw.
    void setFeatures(std::string raw);

    // Every command line received, in order, across sessions.
    std::vector<std::string> commands() const;
    // The argument of each use of `verb` (e.g. the names RETR asked for), in order.
    std::vector<std::string> argumentsOf(const std::string& verb) const;
    // Waits until at least `count` command lines arrived.
    bool waitForCommands(
        std::size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;
    int sessionCount() const;
    // True once the current session's control connection was closed by the client.
    bool waitForSessionEnd(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;

    // Used by the session.
    std::string fileContent(const std::string& name, bool& found) const;
    std::string listing() const;
    std::optional<DataPlan> dataPlan(const std::string& nameOrList) const;
    std::string passiveAddress() const;
    std::optional<int> passivePortOverride() const;
    void record(const std::string& line);

private:
    void run();
    void serve(int controlFd);
    void installDefaults();
    Handler handlerFor(const std::string& verb) const;

    int listenFd_ = -1;
    int port_ = 0;
    int stopPipe_[2] = { -1, -1 };
    std::thread thread_;

    mutable std::mutex mutex_;
    std::map<std::string, Handler> handlers_;
    std::map<std::string, std::size_t> sequenceIndex_;
    std::string greeting_ = "220 Scripted FTP server ready.\r\n";
    std::chrono::milliseconds greetingDelay_ { 0 };
    std::map<std::string, std::string> files_;
    std::string listing_;
    bool listingSet_ = false;
    std::map<std::string, DataPlan> plans_;
    std::string passiveAddress_ = "127,0,0,1";
    std::optional<int> passivePortOverride_;
    std::string features_ = "211-Features:\r\n SIZE\r\n REST STREAM\r\n211 End\r\n";
    std::vector<std::string> commands_;
    int sessions_ = 0;
    bool sessionActive_ = false;
    bool concurrent_ = false;
    int sessionLimit_ = 0;
    std::string refusal_;
    int activeSessions_ = 0;
    int mostAtOnce_ = 0;
    std::vector<std::thread> sessionThreads_;

    friend class FtpSession;
};

} // namespace taskhaul::test
