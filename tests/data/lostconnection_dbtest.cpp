// Record sets whose connection goes away: the session ended by another
// session, the server stopped (politely or at once), while a large result is
// still being fetched or between two opens. On a server of the tests' own,
// since the shared one must stay up.

#include "data/DataSet.h"
#include "data/OdbcProvider.h"
#include "testsupport/PrivateServer.h"
#include "testsupport/TestSupport.h"
#ifndef _WIN32
#include "testsupport/TcpProxy.h"
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace querlin;
using namespace querlin::data;
using querlin::test::ErrorOf;
using querlin::test::HangWatchdog;
using querlin::test::PrivateServer;
using querlin::test::Saboteur;

namespace {

// Punctuation that needs quoting in both connection-string layers.
constexpr char kPassword[] = "Lost-Pw;{7}";

// 300,000 rows, streamed 10,000 a fetch; the view's row 150,000 sleeps, so
// a session seen asleep is one with 140,000 rows delivered and the rest to
// come.
constexpr char kSite[] = R"(
CREATE SCHEMA bravel;
CREATE TABLE bravel.big AS
  SELECT x AS id, CAST('row ' || x AS varchar(20)) AS label FROM generate_series(1, 300000) AS x;
CREATE VIEW bravel.doomed AS
  SELECT x AS id, CAST('row ' || x AS varchar(20)) AS label,
         CASE WHEN x = 150000 THEN length(pg_sleep(60)::text) END AS nap
  FROM generate_series(1, 300000) AS x;
)";
constexpr int kRows = 300000;
constexpr char kEndOtherSessions[] =
    "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
    "WHERE datname = 'querlin' AND pid <> pg_backend_pid()";

enum class Loss { Terminated, ServerStops, ServerDies };

struct LossCase {
    const char* label;
    Loss loss;
};

const LossCase kLosses[] = {
    {"session terminated from another session", Loss::Terminated},
    {"server stops", Loss::ServerStops},
    {"server stops at once", Loss::ServerDies},
};

class LostConnectionDb : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<PrivateServer>(kPassword, kSite); }
    static void TearDownTestSuite() { server_.reset(); }

    void TearDown() override
    {
        // Whatever a case did, the next one finds the server up.
        try {
            server_->Psql("SELECT 1");
        } catch (const std::exception&) {
            server_->Resume();
        }
    }

    static PrivateServer& Server() { return *server_; }

    static std::function<std::string(const std::string&)> Psql()
    {
        return [](const std::string& sql) { return server_->Psql(sql); };
    }

    // Takes the connection away as the case says; the server is down
    // afterwards for the two stops.
    static void Lose(Loss loss, const std::string& terminateSql)
    {
        switch (loss) {
        case Loss::Terminated: server_->Psql(terminateSql); break;
        case Loss::ServerStops: server_->Halt(false); break;
        case Loss::ServerDies: server_->Halt(true); break;
        }
    }

    static void ExpectClosed(TADOQuery& q)
    {
        EXPECT_FALSE(q.Active());
        EXPECT_EQ(q.FieldCount(), 0);
        EXPECT_EQ(ErrorOf([&] { q.MoveFirst(); }), "qry4: Cannot perform this operation on a closed dataset");
    }

    static void ExpectClearError(const std::string& error)
    {
        EXPECT_NE(error, "(no error)");
        EXPECT_EQ(error.rfind("qry4: ", 0), 0u) << error;
        EXPECT_GT(error.size(), std::string("qry4: ").size() + 5) << "the driver's own words follow";
        EXPECT_EQ(error.find(kPassword), std::string::npos) << error;
        EXPECT_EQ(error.find("Lost-Pw"), std::string::npos) << error;
    }

    static inline std::unique_ptr<PrivateServer> server_;
};

} // namespace

// The rows stop coming half-way: Open fails with the driver's message and
// the record set stays closed, never holding the rows that came as if they
// were the table; once the server is back the next Open reads everything.
TEST_F(LostConnectionDb, OpenLosingItsConnectionMidFetchFailsClosedAndTheNextOpenWorks)
{
    for (const LossCase& c : kLosses) {
        SCOPED_TRACE(c.label);
        HangWatchdog watchdog(std::string("Open losing its connection: ") + c.label, 180);
        TADOQuery q("qry4");
        q.SetConnectionString(Server().AdoConnectionString());
        q.SetSQL("SELECT * FROM bravel.doomed");
        Saboteur saboteur(Psql(), [&] { Lose(c.loss, test::kTerminateSleepers); });
        const std::string error = ErrorOf([&] { q.Open(); });
        saboteur.Join();
        ASSERT_TRUE(saboteur.Struck()) << "the fetch never reached the sleeping row";
        ExpectClearError(error);
        ExpectClosed(q);
        std::cout << "[ lost ] " << c.label << ": " << error << "\n";

        if (c.loss != Loss::Terminated) {
            // While the server is away an Open fails at once, and closed.
            q.SetSQL("SELECT * FROM bravel.big");
            ExpectClearError(ErrorOf([&] { q.Open(); }));
            ExpectClosed(q);
            Server().Resume();
        }
        q.SetSQL("SELECT * FROM bravel.big ORDER BY id");
        ASSERT_EQ(ErrorOf([&] { q.Open(); }), "(no error)");
        EXPECT_EQ(q.RecordCount(), kRows);
        q.MoveLast();
        EXPECT_EQ(q.FieldNamed("id").PlainText(), std::to_string(kRows));
    }
}

// An open record set keeps its connection; losing it between two opens
// harms neither the rows held nor the next Open, which connects anew.
TEST_F(LostConnectionDb, ConnectionLostBetweenTwoOpens)
{
    for (const LossCase& c : kLosses) {
        SCOPED_TRACE(c.label);
        HangWatchdog watchdog(std::string("Opens around a lost connection: ") + c.label, 180);
        TADOQuery q("qry4");
        q.SetConnectionString(Server().AdoConnectionString());
        q.SetSQL("SELECT * FROM bravel.big WHERE id <= 3 ORDER BY id");
        q.Open();
        ASSERT_EQ(q.RecordCount(), 3);

        Lose(c.loss, kEndOtherSessions);
        // The rows held stay readable; closing does not wait for the server.
        q.MoveLast();
        EXPECT_EQ(q.FieldNamed("label").PlainText(), "row 3");
        q.Close();
        ExpectClosed(q);

        if (c.loss != Loss::Terminated) {
            ExpectClearError(ErrorOf([&] { q.Open(); }));
            ExpectClosed(q);
            std::vector<std::string> names{"stale"};
            ExpectClearError(ErrorOf([&] { q.FieldNames(names); }));
            Server().Resume();
        }
        ASSERT_EQ(ErrorOf([&] { q.Open(); }), "(no error)");
        EXPECT_EQ(q.RecordCount(), 3);
        std::vector<std::string> names;
        q.FieldNames(names);
        EXPECT_EQ(names, (std::vector<std::string>{"id", "label"}));
    }
}

namespace {

// A port on this host where the connection is taken and never a word comes
// back: a database that hangs, or a host half gone.
class SilentServer {
#ifdef _WIN32
    using Socket = SOCKET;
    static constexpr Socket kNoSocket = INVALID_SOCKET;
    using Length = int;
    static void CloseSocket(Socket s) { closesocket(s); }
#else
    using Socket = int;
    static constexpr Socket kNoSocket = -1;
    using Length = socklen_t;
    static void CloseSocket(Socket s) { close(s); }
#endif

public:
    SilentServer()
    {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        socket_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Length length = sizeof address;
        if (socket_ == kNoSocket || bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(socket_, 16) != 0 || getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on a port of this host");
        port_ = ntohs(address.sin_port);
    }
    ~SilentServer() { CloseSocket(socket_); }
    int Port() const { return port_; }

private:
    Socket socket_ = kNoSocket;
    int port_ = 0;
};

struct ShortLoginTimeout {
    explicit ShortLoginTimeout(int seconds) { SetOdbcLoginTimeoutForTesting(seconds); }
    ~ShortLoginTimeout() { SetOdbcLoginTimeoutForTesting(0); }
};

} // namespace

// The connection is never answered: Open, FieldNames and Execute give up
// after the login time-out (shortened for the test) with the driver's
// message, instead of waiting for ever.
TEST_F(LostConnectionDb, ServerThatNeverAnswersFailsAfterTheLoginTimeOut)
{
    SilentServer silent;
    ShortLoginTimeout shortened(2);
    HangWatchdog watchdog("connecting to a server that never answers", 120);
    TADOQuery q("qry4");
    q.SetConnectionString(Server().AdoConnectionString(silent.Port()));
    q.SetSQL("SELECT * FROM bravel.big");
    const std::string error = ErrorOf([&] { q.Open(); });
    ExpectClearError(error);
    ExpectClosed(q);
    std::cout << "[ lost ] a server that never answers: " << error << "\n";
    std::vector<std::string> names;
    ExpectClearError(ErrorOf([&] { q.FieldNames(names); }));
    ExpectClearError(ErrorOf([&] { q.Execute(); }));
}

#ifndef _WIN32
// (The test proxy speaks POSIX sockets.)
// The link is cut while a block of rows is on its way: PostgreSQL's driver,
// streaming a result itself, crashes inside its fetch on such a cut more
// often than not (seen with psqlODBC 13.02). Cut at moments spread over
// the stream, each Open fails with the driver's words, closed, and the
// process lives on; once the link is whole again the next Open reads all.
TEST_F(LostConnectionDb, LinkCutWhileRowsArriveFailsClosedEveryTime)
{
    constexpr char kStream[] =
        "SELECT x AS id, CAST(repeat('x', 40) AS varchar(60)) AS label FROM generate_series(1, 3000000) AS x";
    constexpr int kCuts = 8;
    HangWatchdog watchdog("opens whose link is cut mid-stream", 300);
    test::TcpProxy proxy("127.0.0.1", 0, "127.0.0.1", Server().Port());
    TADOQuery q("qry4");
    q.SetConnectionString(Server().AdoConnectionString(proxy.Port()));
    q.SetSQL(kStream);
    int failed = 0;
    for (int cut = 0; cut < kCuts; ++cut) {
        SCOPED_TRACE("cut " + std::to_string(cut));
        std::thread cutter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150 + 60 * cut));
            proxy.Cut();
        });
        const std::string error = ErrorOf([&] { q.Open(); });
        cutter.join();
        if (error == "(no error)") {
            // Fast enough to be done before the cut: whole, never short.
            EXPECT_EQ(q.RecordCount(), 3000000);
            q.Close();
            continue;
        }
        ++failed;
        ExpectClearError(error);
        ExpectClosed(q);
    }
    EXPECT_GT(failed, kCuts / 2) << "the cuts came too late to reach the stream";
    ASSERT_EQ(ErrorOf([&] { q.Open(); }), "(no error)");
    EXPECT_EQ(q.RecordCount(), 3000000);
}
#endif
