// Reading and saving files on POSIX systems: what a save keeps and what it leaves behind.
#include "model/files.h"
#include "model/model.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char *const kOld = "old settings";
const char *const kNew = "new settings";

fs::perms permissionsOf(const fs::path &path)
{
    return fs::status(path).permissions() & fs::perms::mask;
}

// The names in a folder, links included, sorted.
std::vector<std::string> namesIn(const fs::path &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class SaveTest : public ::testing::Test {
protected:
    // What a save of kNew to name raises, or "no error".
    std::string save(const fs::path &name) { return FailureOf([&] { WriteFileAtomically(dir.Path() / name, kNew); }); }

    TTempDir dir;
};

} // namespace

TEST_F(SaveTest, TheOldFilesModeAndOwnerAreKept)
{
    dir.Write("saved.cfg", kOld);
    ASSERT_EQ(::chmod(dir.File("saved.cfg").c_str(), 0755), 0);
    ASSERT_EQ(save("saved.cfg"), "no error");
    EXPECT_EQ(permissionsOf(dir.Path() / "saved.cfg"), fs::perms(0755));
    EXPECT_EQ(dir.Read("saved.cfg"), kNew);
    // A new file gets what the umask allows.
    const mode_t mask = ::umask(022);
    ASSERT_EQ(save("new.cfg"), "no error");
    ::umask(mask);
    EXPECT_EQ(permissionsOf(dir.Path() / "new.cfg"), fs::perms(0644));
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another owner";
    ASSERT_EQ(::chown(dir.File("saved.cfg").c_str(), 1234, 5678), 0);
    ASSERT_EQ(save("saved.cfg"), "no error");
    struct stat saved;
    ASSERT_EQ(::stat(dir.File("saved.cfg").c_str(), &saved), 0);
    EXPECT_EQ(saved.st_uid, 1234u);
    EXPECT_EQ(saved.st_gid, 5678u);
}

TEST_F(SaveTest, ALinkIsWrittenThroughAndStaysALink)
{
    fs::create_directories(dir.Path() / "data");
    dir.Write("data/real.cfg", kOld);
    fs::permissions(dir.Path() / "data/real.cfg", fs::perms(0600));
    const std::pair<const char *, fs::path> links[] = {
        {"relative.cfg", "data/real.cfg"},
        {"absolute.cfg", dir.Path() / "data/real.cfg"},
        {"dangling.cfg", "data/made-by-the-save.cfg"},
    };
    for (const auto &[link, pointsTo] : links) {
        fs::create_symlink(pointsTo, dir.Path() / link);
        ASSERT_EQ(save(link), "no error") << link;
        EXPECT_EQ(fs::read_symlink(dir.Path() / link), pointsTo);
        EXPECT_EQ(ReadFile(dir.Path() / link), kNew) << link;
    }
    EXPECT_EQ(permissionsOf(dir.Path() / "data/real.cfg"), fs::perms(0600));
    EXPECT_EQ(namesIn(dir.Path() / "data"), (std::vector<std::string>{"made-by-the-save.cfg", "real.cfg"}));
}

TEST_F(SaveTest, AFailedOrRefusedSaveKeepsTheOldFile)
{
    for (const char *name : {"read-only.cfg", "plain-file", "too-big.cfg"})
        dir.Write(name, kOld);
    fs::create_directory(dir.Path() / "folder.cfg");
    fs::create_symlink("loop.cfg", dir.Path() / "loop.cfg");
    ASSERT_EQ(::chmod(dir.File("read-only.cfg").c_str(), 0444), 0);
    const struct {
        const char *name;
        std::string reason;
        rlim_t sizeLimit; // 0: none
    } cases[] = {
        {"read-only.cfg", "файл доступен только для чтения", 0},
        {"missing/saved.cfg", "Нет такого файла или устройства", 0},
        {"plain-file/saved.cfg", "Путь проходит через файл, а не папку", 0},
        {"folder.cfg", "это не обычный файл", 0},
        {"loop.cfg", "Слишком много символических ссылок подряд", 0},
        // Writing stops after 4 bytes: the half-written temporary file must not replace the old one.
        {"too-big.cfg", "Файл слишком велик", 4},
    };
    const auto names = namesIn(dir.Path());
    const auto signal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    for (const auto &c : cases) {
        rlimit limit = unlimited;
        limit.rlim_cur = c.sizeLimit ? c.sizeLimit : unlimited.rlim_cur;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string failure = save(c.name);
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        EXPECT_EQ(failure, "EConfigError: Не удалось записать файл " + dir.File(c.name) + ": " + c.reason);
    }
    std::signal(SIGXFSZ, signal);
    EXPECT_EQ(namesIn(dir.Path()), names) << "nothing left behind";
    for (const char *name : {"read-only.cfg", "plain-file", "too-big.cfg"})
        EXPECT_EQ(dir.Read(name), kOld) << name;
}

TEST_F(SaveTest, TemporariesOfKilledSavesOfTheSameFileAreRemovedAndNoLinkIsFollowed)
{
    const std::string victim = dir.Write("victim.txt", "victim");
    dir.Write("saved.cfg", kOld);
    const char *const stale = ".saved.cfg.cfgtmp-AbCdEf12";
    const char *const kept[] = {".saved.cfg.cfgtmp-ZZZZZZZZ", ".other.cfg.cfgtmp-AbCdEf12", ".saved.cfg.cfgtmp-AbCdEf1!"};
    for (const char *name : {stale, kept[0], kept[1], kept[2]})
        dir.Write(name, "half a save");
    // The first kept one belongs to a save still in progress.
    const int held = ::open(dir.File(kept[0]).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    // A link of the temporary pattern leads nowhere the save writes or removes.
    fs::create_symlink(victim, dir.Path() / ".saved.cfg.cfgtmp-AAAAAAAA");
    ASSERT_EQ(save("saved.cfg"), "no error");
    ::close(held);
    EXPECT_FALSE(fs::exists(dir.Path() / stale));
    for (const char *name : kept)
        EXPECT_TRUE(fs::exists(dir.Path() / name)) << name;
    EXPECT_EQ(dir.Read("victim.txt"), "victim");
    EXPECT_EQ(dir.Read("saved.cfg"), kNew);
    EXPECT_EQ(fs::read_symlink(dir.Path() / ".saved.cfg.cfgtmp-AAAAAAAA"), victim);
    EXPECT_EQ(namesIn(dir.Path()).size(), 6u) << "the save's own temporary file is gone";
}

TEST(ReadRegularFile, OnlyRegularFilesWithinTheLimitAreReadAndNoneIsWaitedOn)
{
    TTempDir dir;
    constexpr std::uintmax_t kLimit = 1024 * 1024;
    fs::resize_file(dir.Write("at-limit.xml", ""), kLimit);
    fs::resize_file(dir.Write("over-limit.xml", ""), kLimit + 1);
    // A FIFO would block an ordinary open for ever.
    ASSERT_EQ(::mkfifo(dir.File("fifo.xml").c_str(), 0600), 0);
    std::string reason;
    EXPECT_EQ(ReadRegularFile(dir.Path() / "at-limit.xml", kLimit, reason).value_or("").size(), kLimit);
    const std::pair<const char *, const char *> refused[] = {
        {"over-limit.xml", "файл больше 1 МиБ"},
        {"fifo.xml", "это не обычный файл"},
        {"missing.xml", "не удалось открыть файл: Нет такого файла или устройства"},
    };
    for (const auto &[name, expected] : refused) {
        EXPECT_FALSE(ReadRegularFile(dir.Path() / name, kLimit, reason)) << name;
        EXPECT_EQ(reason, expected);
    }
}
