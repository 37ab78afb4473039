#include "prefs/preferences_file.h"
#include "prefs_test_support.h"

#include <sys/resource.h>

#include <csignal>
#include <cstring>

namespace {

using PreferencesFile = PrefsFolderTest;

TEST_F(PreferencesFile, WriterRoundTripIsByteExact)
{
    const std::vector<std::pair<PanelSettings, QByteArray>> cases{
        {{}, "COM=1\r\nMODE= 1\r\nCOLOUR= 255\r\n"},           // 29 bytes
        {{2, 2, 65535}, "COM=2\r\nMODE= 2\r\nCOLOUR= 65535\r\n"}, // 31 bytes
    };
    for (const auto& [settings, expected] : cases) {
        EXPECT_EQ(writePreferences(settings), std::nullopt);
        EXPECT_EQ(bytes(), expected);
        PanelSettings read{9, 9, 9};
        readPreferences(read);
        EXPECT_EQ(read, settings);
    }
    EXPECT_EQ(folderEntries(), QStringList{"pref.vyr"});
}

TEST_F(PreferencesFile, ReadsEveryByteOrFallsBackToDefaults)
{
    PanelSettings settings{2, 2, 65535};
    readPreferences(settings); // no file
    EXPECT_EQ(settings, PanelSettings{});
    EXPECT_FALSE(QFileInfo::exists(folder));

    const QByteArray raw("COM=2\rx\n\0\xff\r\n", 11);
    put(raw);
    bool errFlag = true;
    EXPECT_EQ(ReadTextFile(file, errFlag), raw.toStdString());
    EXPECT_FALSE(errFlag);

    ASSERT_TRUE(QFile::remove(file) && QDir().mkpath(file)); // a folder where the file should be
    EXPECT_EQ(ReadTextFile(file, errFlag), "");
    EXPECT_TRUE(errFlag);
    settings = {2, 2, 65535};
    readPreferences(settings);
    EXPECT_EQ(settings, PanelSettings{});
}

// The file-size limit cuts the write short the way a full disk does, and holds for root too.
TEST_F(PreferencesFile, WriteCutShortKeepsTheOldFileAndLeavesNoTemporary)
{
    const QByteArray old("COM=2\r\nMODE= 2\r\nCOLOUR= 65280\r\n");
    put(old);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    for (const rlim_t limit : {rlim_t{0}, rlim_t{16}}) {
        rlimit small = saved;
        small.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const auto failure = writePreferences({});
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);

        EXPECT_EQ(failure, QString::fromLocal8Bit(std::strerror(EFBIG))) << limit;
        EXPECT_EQ(bytes(), old);
        EXPECT_EQ(folderEntries(), QStringList{"pref.vyr"});
    }
}

} // namespace
