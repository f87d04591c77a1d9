// Loading the Firebird client library: once per process, and the message
// that stops the program when it cannot be found.

#include "db/AutomationDatabases.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

namespace vz {
namespace {

const QString Expected = QStringLiteral(
    "Firebird client library libfbclient not found in the path. Please install the Firebird client to use this "
    "functionality");

TEST(FirebirdClientLoad, AMissingLibraryStopsWithItsMessage)
{
    const FileSystem fs(DriveMap::rootOnly());
    const QStringList missing{QStringLiteral("libfbclient-missing.so.2"), QStringLiteral("/nonexistent/libfbclient.so")};
    try {
        AutomationDatabases dbs(fs, missing);
        FAIL() << "created without a client library";
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), Expected);
    }
    // Asking again tries again, and fails the same way.
    try {
        FirebirdClient::Load(missing);
        FAIL() << "loaded a missing library";
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), Expected);
    }
    // A library that loads but is not the client counts as unusable.
    EXPECT_THROW(FirebirdClient::Load({QStringLiteral("libz.so.1")}), Error);
}

TEST(FirebirdClientLoad, TheClientIsLoadedOncePerProcess)
{
    const FirebirdClient& first = FirebirdClient::Load();
    EXPECT_EQ(first.libraryName(), QStringLiteral("libfbclient.so.2"));
    const FileSystem fs(DriveMap::rootOnly());
    AutomationDatabases a(fs);
    AutomationDatabases b(fs);
    EXPECT_EQ(&a.client, &first);
    EXPECT_EQ(&b.client, &first);
    // The second name is the fallback when the first is missing.
    const FirebirdClient& fallback =
        FirebirdClient::Load({QStringLiteral("libfbclient-missing.so.2"), QStringLiteral("libfbclient.so.2")});
    EXPECT_EQ(fallback.libraryName(), QStringLiteral("libfbclient.so.2"));
}

}  // namespace
}  // namespace vz
