#include "runtime/OsVersion.h"

#include <gtest/gtest.h>

TEST(OsVersion, IsOneNtRecordPerProcess) {
    const OsVersion& version = OsVersion::instance();
    EXPECT_EQ(&version, &OsVersion::instance());
    EXPECT_TRUE(version.isNtFamily());
    EXPECT_GE(version.info().dwMajorVersion, 5u);
    // The second query used the extended record.
    EXPECT_EQ(version.info().dwOSVersionInfoSize, sizeof(OSVERSIONINFOEXA));
}

TEST(OsVersion, Wow64ProbeMatchesTheBuild) {
    // A 64-bit program never runs under WOW64; a 32-bit one does on a 64-bit system.
    if (sizeof(void*) == 8) EXPECT_FALSE(runningUnderWow64());
    else SUCCEED() << "32-bit build: depends on the host";
}
