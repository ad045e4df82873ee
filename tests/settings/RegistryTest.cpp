#include "TestSupport.h"
#include "platform/SqliteRegistry.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class RegistryTest : public testing::Test
{
protected:
    TempDir dir;
    std::string path = dir.File("registry.sqlite3");
};

TEST_F(RegistryTest, NamesCompareWithoutCaseAndValuesKeepFirstWriteOrder)
{
    CSqliteRegistry registry(path);
    ASSERT_EQ(registry.GetState(), CSqliteRegistry::State::Ok);
    RegKeyId key = registry.OpenKey("Software\\Maker\\Product", true);
    ASSERT_NE(key, 0);
    EXPECT_EQ(registry.OpenKey("SOFTWARE\\maker\\PRODUCT", false), key);

    ASSERT_TRUE(registry.SetNumber(key, "Beta", 2));
    ASSERT_TRUE(registry.SetString(key, "alpha", "a"));
    ASSERT_TRUE(registry.SetNumber(key, "BETA", 3)); // rewrite keeps its place
    ASSERT_TRUE(registry.SetString(key, "Gamma", "g"));
    std::vector<std::string> names;
    for (const auto& value : registry.EnumValues(key))
        names.push_back(value.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"Beta", "alpha", "Gamma"}));
    EXPECT_EQ(registry.QueryValue(key, "beta")->Number, 3u);

    // Deleted and written again, a value goes to the end.
    ASSERT_TRUE(registry.DeleteValue(key, "beta"));
    EXPECT_FALSE(registry.DeleteValue(key, "beta"));
    ASSERT_TRUE(registry.SetNumber(key, "Beta", 4));
    EXPECT_EQ(registry.EnumValues(key).back().Name, "Beta");
}

TEST_F(RegistryTest, DeletedKeyTakesItsValuesAndSubkeysAndHeldHandlesFailQuietly)
{
    CSqliteRegistry registry(path);
    RegKeyId rule = registry.OpenKey("P\\Turing\\Rule1", true);
    RegKeyId deeper = registry.OpenKey("P\\Turing\\Rule1\\Sub", true);
    registry.SetString(rule, "Name", "x");
    registry.SetString(deeper, "Name", "y");
    ASSERT_TRUE(registry.DeleteKey("p\\turing\\rule1"));
    EXPECT_EQ(registry.OpenKey("P\\Turing\\Rule1", false), 0);
    EXPECT_EQ(registry.OpenKey("P\\Turing\\Rule1\\Sub", false), 0);
    EXPECT_FALSE(registry.QueryValue(rule, "Name"));
    EXPECT_FALSE(registry.SetString(rule, "Name", "again")); // the key is gone
    EXPECT_FALSE(registry.DeleteKey("P\\Turing\\Rule1"));
    // A new key never reuses the old one's identity.
    EXPECT_NE(registry.OpenKey("P\\Turing\\Rule1", true), rule);
}

TEST_F(RegistryTest, TextsKeepEveryByte)
{
    CSqliteRegistry registry(path);
    RegKeyId key = registry.OpenKey("K", true);
    std::string bytes;
    for (int c = 1; c < 256; ++c)
        bytes += static_cast<char>(c);
    ASSERT_TRUE(registry.SetString(key, "All", bytes));
    EXPECT_EQ(registry.QueryValue(key, "All")->Text, bytes);
}

TEST_F(RegistryTest, SecondConnectionSeesWritesAtOnce)
{
    CSqliteRegistry first(path);
    CSqliteRegistry second(path);
    RegKeyId a = first.OpenKey("K", true);
    RegKeyId b = second.OpenKey("K", false);
    first.SetNumber(a, "N", 1);
    EXPECT_EQ(second.QueryValue(b, "N")->Number, 1u);
    second.SetNumber(b, "N", 2);
    EXPECT_EQ(first.QueryValue(a, "N")->Number, 2u);
}

// Two processes hammer the same values; every read sees one whole written value and
// the last writes of both survive.
TEST_F(RegistryTest, TwoProcessesNeverSeeTornOrLostValues)
{
    {
        CSqliteRegistry setup(path);
        setup.OpenKey("K", true);
    }
    const int rounds = 300;
    auto work = [&](char mark) {
        CSqliteRegistry registry(path);
        RegKeyId key = registry.OpenKey("K", true);
        std::string own = "Count" + std::string(1, mark);
        for (int i = 1; i <= rounds; ++i) {
            if (!registry.SetString(key, "Shared", std::string(1000, mark)))
                return 1;
            if (!registry.SetNumber(key, own, static_cast<uint32_t>(i)))
                return 2;
            auto shared = registry.QueryValue(key, "Shared");
            if (!shared || shared->Text.size() != 1000 ||
                shared->Text.find_first_not_of(shared->Text[0]) != std::string::npos)
                return 3;
        }
        return 0;
    };
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(work('b'));
    int own = work('a');
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(own, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    CSqliteRegistry check(path);
    RegKeyId key = check.OpenKey("K", false);
    EXPECT_EQ(check.QueryValue(key, "CountA")->Number, static_cast<uint32_t>(rounds));
    EXPECT_EQ(check.QueryValue(key, "CountB")->Number, static_cast<uint32_t>(rounds));
}

struct DamagedCase
{
    const char* name;
    std::string content;
};

class DamagedRegistryTest : public RegistryTest, public testing::WithParamInterface<DamagedCase>
{
};

// A file that is not our database is reported, reads give nothing, writes fail, and the
// file is left exactly as it was.
TEST_P(DamagedRegistryTest, IsLeftUntouched)
{
    {
        std::ofstream out(path, std::ios::binary);
        out << GetParam().content;
    }
    {
        CSqliteRegistry registry(path);
        EXPECT_EQ(registry.GetState(), CSqliteRegistry::State::Damaged);
        EXPECT_FALSE(registry.ErrorText().empty());
        EXPECT_EQ(registry.OpenKey("K", true), 0);
        CRegKey key(registry, "K", true);
        EXPECT_EQ(key.GetNumber("N", 7), 7);
        EXPECT_FALSE(key.SetNumber("N", 1));
    }
    std::ifstream in(path, std::ios::binary);
    std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(after, GetParam().content);
}

std::string DamagedHeader()
{
    std::string page = "SQLite format 3";
    page += '\0';
    page += std::string(84, '\x7f');
    return page + std::string(4000, 'x');
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedRegistryTest,
                         testing::Values(DamagedCase{"Text", "this is not a database\n"},
                                         DamagedCase{"BrokenHeader", DamagedHeader()}),
                         [](const auto& file) { return std::string(file.param.name); });

TEST_F(RegistryTest, ForeignDatabaseIsRefused)
{
    {
        CSqliteRegistry registry(path);
    }
    std::string command = "sqlite3 '" + path + "' 'CREATE TABLE other(x)' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "sqlite3 command not installed";
    CSqliteRegistry registry(path);
    EXPECT_EQ(registry.GetState(), CSqliteRegistry::State::Damaged);
}

// The settings hold the scrambled options password and AutoType texts: folders the store
// makes are 0700 and its files 0600 under the usual umask; a folder the user made keeps
// its mode, and a database an older copy left readable by all is made private.
TEST_F(RegistryTest, FilesAndTheFoldersItMakesAreTheUsersAlone)
{
    ScopedUmask umask(022);
    std::string config = dir.File("config");
    std::string database = config + "/zibtam/registry.sqlite3";
    {
        CSqliteRegistry registry(database);
        ASSERT_EQ(registry.GetState(), CSqliteRegistry::State::Ok);
        ASSERT_TRUE(CRegKey(registry, "K", true).SetString("AutoType", "secret"));
        for (const char* suffix : {"", "-wal", "-shm"})
            EXPECT_EQ(ModeOf(database + suffix), 0600) << suffix;
    }
    EXPECT_EQ(ModeOf(config), 0700);
    EXPECT_EQ(ModeOf(config + "/zibtam"), 0700);

    std::filesystem::create_directory(dir.Path() / "mine");
    std::filesystem::permissions(dir.Path() / "mine", std::filesystem::perms(0755));
    std::string older = dir.File("mine/registry.sqlite3");
    {
        CSqliteRegistry registry(older);
    }
    ::chmod(older.c_str(), 0644);
    CSqliteRegistry registry(older);
    EXPECT_EQ(registry.GetState(), CSqliteRegistry::State::Ok);
    EXPECT_EQ(ModeOf(older), 0600);
    EXPECT_EQ(ModeOf(dir.File("mine")), 0755);
}

TEST_F(RegistryTest, UnreadableFileIsReported)
{
    {
        std::ofstream out(path);
    }
    chmod(path.c_str(), 0);
    int status = RunAsOrdinaryUser([&] {
        CSqliteRegistry registry(path);
        return registry.GetState() == CSqliteRegistry::State::Damaged &&
                       !registry.ErrorText().empty()
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
}

} // namespace

namespace {

TEST(RegistryPathTest, DirectoryInPlaceOfTheFileIsReported)
{
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "registry.sqlite3");
    CSqliteRegistry registry(dir.File("registry.sqlite3"));
    EXPECT_EQ(registry.GetState(), CSqliteRegistry::State::Damaged);
    EXPECT_FALSE(registry.ErrorText().empty());
}

} // namespace
