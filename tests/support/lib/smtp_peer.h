// A scripted SMTP server on 127.0.0.1 for tests: it records every byte clients send and
// answers each stage of the conversation as the test says (by default, a server that
// accepts everything).
//
//   qv::test::SmtpPeer peer;                       // listening at once
//   peer.On(SmtpStage::Rcpt, SmtpAction::Reply("550 no such user\r\n"));
//   ... send mail to 127.0.0.1:peer.Port() ...
//   peer.WaitFinished(1, 5000);                    // the client has hung up
//   EXPECT_THAT(peer.Received(), HasSubstr("RCPT TO: <a@b>\r\n"));
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/net.h"

namespace qv::test {

// The point of the conversation an action answers. Commands are told apart by their
// first word (HELO, MAIL, RCPT, DATA, QUIT); EndOfData is the "." line after DATA.
enum class SmtpStage { Greeting, Helo, Mail, Rcpt, Data, EndOfData, Quit, Other };

struct SmtpAction {
    enum class Kind { Reply, Silent, Close };
    Kind kind = Kind::Reply;
    std::string text;    // the bytes of a reply, with their CR LF
    size_t splitAt = 0;  // when above 0: text[0, splitAt) first, a pause, then the rest
    int pauseMs = 0;

    // Sends text as one segment.
    static SmtpAction Reply(std::string text);
    // Sends text in two segments with a pause between them.
    static SmtpAction Split(std::string text, size_t splitAt, int pauseMs);
    // Answers nothing from here on (still records what arrives) until the client hangs up.
    static SmtpAction Silent();
    // Closes the connection at once.
    static SmtpAction Close();
};

// Serves connections one after the other until destroyed. After the server's reply to
// DATA begins with "354", lines are message data up to the "." line.
class SmtpPeer {
  public:
    SmtpPeer();
    ~SmtpPeer();
    SmtpPeer(const SmtpPeer&) = delete;
    SmtpPeer& operator=(const SmtpPeer&) = delete;

    uint16_t Port() const { return port_; }
    // Replaces the action of one stage (for every later connection).
    void On(SmtpStage stage, SmtpAction action);
    // Every byte all clients sent so far, in order of arrival.
    std::string Received() const;
    // Connections that have ended (client hung up, or the peer closed them).
    int FinishedConnections() const;
    // Waits until at least count connections have ended; false on timeout.
    bool WaitFinished(int count, int timeoutMs) const;

  private:
    enum class Outcome { Go, Silent, Closed };
    void Run();
    void Serve(int fd);
    SmtpAction ActionFor(SmtpStage stage) const;
    Outcome Perform(int fd, const SmtpAction& action) const;
    // Waits for the stop signal at most ms; true when the peer is stopping.
    bool StopRequested(int ms) const;

    UniqueFd listener_;
    UniqueFd stopRead_;
    UniqueFd stopWrite_;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable finishedChanged_;
    std::map<SmtpStage, SmtpAction> actions_;
    std::string received_;
    int finished_ = 0;
    std::thread thread_;
};

}  // namespace qv::test
