// Which hosts a cookie with a Domain attribute reaches: names below the
// domain, never other addresses, never a whole top-level domain.

#include "tests/support/ManualClock.h"
#include "web/CookieStore.h"

#include <gtest/gtest.h>

using namespace vz;
using namespace vz::test;

namespace {

const QString Path = QStringLiteral("/Zuvavivevo/Upload.aspx");

QByteArray headerFor(CookieStore& store, const char* host) {
    return store.HeaderFor(QString::fromLatin1(host), Path, false);
}

TEST(CookieDomain, ADomainReachesTheHostsBelowItButNotItsNeighbours) {
    ManualClock clock;
    CookieStore store(clock);
    store.Store(QStringLiteral("www.service.example"), Path, {"s=1; Domain=.service.example"}, {});
    EXPECT_EQ(headerFor(store, "www.service.example"), "s=1");
    EXPECT_EQ(headerFor(store, "backup.service.example"), "s=1");
    EXPECT_EQ(headerFor(store, "service.example"), "s=1");
    EXPECT_EQ(headerFor(store, "otherservice.example"), "");
    EXPECT_EQ(headerFor(store, "example"), "");
}

TEST(CookieDomain, ASingleLabelDomainIsRefusedUnlessItIsTheHostItself) {
    ManualClock clock;
    CookieStore store(clock);
    store.Store(QStringLiteral("service.com"), Path, {"tld=1; Domain=com"}, {});
    store.Store(QStringLiteral("service.com"), Path, {"dotted=1; Domain=.com"}, {});
    EXPECT_EQ(store.size(), 0);
    EXPECT_EQ(headerFor(store, "other.com"), "");
    EXPECT_EQ(headerFor(store, "service.com"), "");

    // A host of one label naming itself keeps the cookie, for itself only.
    store.Store(QStringLiteral("localhost"), Path, {"own=1; Domain=localhost"}, {});
    EXPECT_EQ(headerFor(store, "localhost"), "own=1");
    EXPECT_EQ(headerFor(store, "a.localhost"), "");
}

TEST(CookieDomain, AnAddressMatchesOnlyItself) {
    ManualClock clock;
    CookieStore store(clock);
    // The trailing labels of an address are no domain of it.
    store.Store(QStringLiteral("127.0.0.1"), Path, {"tail=1; Domain=0.0.1"}, {});
    store.Store(QStringLiteral("127.0.0.1"), Path, {"tail2=1; Domain=.0.1"}, {});
    EXPECT_EQ(headerFor(store, "10.0.0.1"), "");
    EXPECT_EQ(headerFor(store, "127.0.0.1"), "");
    EXPECT_EQ(store.size(), 0);

    // Naming the address itself is the address alone.
    store.Store(QStringLiteral("127.0.0.1"), Path, {"self=1; Domain=127.0.0.1"}, {});
    store.Store(QStringLiteral("127.0.0.1"), Path, {"plain=1"}, {});
    EXPECT_EQ(headerFor(store, "127.0.0.1"), "self=1; plain=1");
    EXPECT_EQ(headerFor(store, "1.127.0.0.1"), "");
    EXPECT_EQ(headerFor(store, "10.0.0.1"), "");
}

}  // namespace
