// Reading and saving files on POSIX systems, and what the catalogue and the
// settings files make of files that are not what they seem.
#include "model/files.h"
#include "model/model.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/inotify.h>
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
    for (const auto mode : {0600, 0640, 0644, 0664, 0700, 0755}) {
        dir.Write("saved.cfg", kOld);
        ASSERT_EQ(::chmod(dir.File("saved.cfg").c_str(), mode), 0);
        ASSERT_EQ(save("saved.cfg"), "no error");
        EXPECT_EQ(permissionsOf(dir.Path() / "saved.cfg"), fs::perms(mode)) << std::oct << mode;
        EXPECT_EQ(dir.Read("saved.cfg"), kNew);
    }
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
    const struct {
        const char *link;
        fs::path pointsTo;
        const char *target; // under dir
        bool replacing;
    } cases[] = {
        {"relative.cfg", "data/real.cfg", "data/real.cfg", true},
        {"absolute.cfg", dir.Path() / "data/real.cfg", "data/real.cfg", true},
        {"chain.cfg", "relative.cfg", "data/real.cfg", true},
        {"dangling.cfg", "data/made-by-the-save.cfg", "data/made-by-the-save.cfg", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.link);
        fs::create_symlink(c.pointsTo, dir.Path() / c.link);
        if (c.replacing) {
            dir.Write(c.target, kOld);
            fs::permissions(dir.Path() / c.target, fs::perms(0600));
        }
        ASSERT_EQ(save(c.link), "no error");
        EXPECT_EQ(fs::read_symlink(dir.Path() / c.link), c.pointsTo);
        EXPECT_EQ(dir.Read(c.target), kNew);
        if (c.replacing) {
            EXPECT_EQ(permissionsOf(dir.Path() / c.target), fs::perms(0600));
        }
    }
    EXPECT_EQ(namesIn(dir.Path() / "data"), (std::vector<std::string>{"made-by-the-save.cfg", "real.cfg"}));
}

TEST_F(SaveTest, AFailedOrRefusedSaveKeepsTheOldFile)
{
    for (const char *name : {"read-only.cfg", "no-write-bits.cfg", "plain-file", "too-big.cfg"})
        dir.Write(name, kOld);
    fs::create_directory(dir.Path() / "folder.cfg");
    fs::create_symlink("loop.cfg", dir.Path() / "loop.cfg");
    ASSERT_EQ(::chmod(dir.File("read-only.cfg").c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.File("no-write-bits.cfg").c_str(), 0500), 0);
    const struct {
        const char *name;
        std::string reason;
        const char *kept; // a file that must still hold kOld
        rlim_t sizeLimit; // 0: none
    } cases[] = {
        {"read-only.cfg", "файл доступен только для чтения", "read-only.cfg", 0},
        {"no-write-bits.cfg", "файл доступен только для чтения", "no-write-bits.cfg", 0},
        {"missing/saved.cfg", "Нет такого файла или устройства", nullptr, 0},
        {"plain-file/saved.cfg", "Путь проходит через файл, а не папку", "plain-file", 0},
        {"folder.cfg", "это не обычный файл", nullptr, 0},
        {"loop.cfg", "Слишком много символических ссылок подряд", nullptr, 0},
        // Writing stops after 4 bytes: the half-written temporary file must not replace the old one.
        {"too-big.cfg", "Файл слишком велик", "too-big.cfg", 4},
    };
    const auto names = namesIn(dir.Path());
    const auto signal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        rlimit limit = unlimited;
        limit.rlim_cur = c.sizeLimit ? c.sizeLimit : unlimited.rlim_cur;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string failure = save(c.name);
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        EXPECT_EQ(failure, "EConfigError: Не удалось записать файл " + dir.File(c.name) + ": " + c.reason);
        if (c.kept) {
            EXPECT_EQ(dir.Read(c.kept), kOld);
        }
        EXPECT_EQ(namesIn(dir.Path()), names) << "nothing left behind";
    }
    std::signal(SIGXFSZ, signal);
    EXPECT_TRUE(fs::is_directory(dir.Path() / "folder.cfg"));
}

TEST_F(SaveTest, LongNamesAreSavedAndTemporaryNamesFit)
{
    std::string cyrillic;
    while (cyrillic.size() + 2 <= 255)
        cyrillic += "я";
    for (const std::string &name :
         {std::string(245, 'n'), std::string(250, 'n'), std::string(255, 'n'), cyrillic, "x" + cyrillic.substr(2)}) {
        SCOPED_TRACE(name.size());
        const files::TName prefix = files::TemporaryPrefix(name);
        const std::size_t kept = prefix.size() - std::string(".").size() - std::string(".cfgtmp-").size();
        EXPECT_LE(prefix.size() + files::kRandomLength, 255u);
        EXPECT_EQ(prefix, "." + name.substr(0, kept) + ".cfgtmp-");
        EXPECT_NE(name[kept] & 0xC0, 0x80) << "never cut inside a character";
        dir.Write(name, kOld);
        EXPECT_EQ(save(name), "no error");
        EXPECT_EQ(dir.Read(name), kNew);
        fs::remove(dir.Path() / name);
    }
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST_F(SaveTest, TemporariesOfKilledSavesOfTheSameFileAreRemovedAndNoLinkIsFollowed)
{
    const std::string victim = dir.Write("victim.txt", "victim");
    dir.Write("saved.cfg", kOld);
    const struct {
        const char *name;
        bool locked; // held by a save still in progress
        bool removed;
    } cases[] = {
        {".saved.cfg.cfgtmp-AbCdEf12", false, true},
        {".saved.cfg.cfgtmp-00000000", false, true},
        {".saved.cfg.cfgtmp-ZZZZZZZZ", true, false},
        {".other.cfg.cfgtmp-AbCdEf12", false, false},
        {".saved.cfg.cfgtmp-AbCdEf1", false, false},
        {".saved.cfg.cfgtmp-AbCdEf1!", false, false},
        {"saved.cfg.cfgtmp-AbCdEf12", false, false},
    };
    std::vector<int> held;
    for (const auto &c : cases) {
        held.push_back(::open(dir.Write(c.name, "half a save").c_str(), O_RDONLY | O_CLOEXEC));
        if (c.locked) {
            ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
        }
    }
    // A link of the temporary pattern leads nowhere the save writes or removes.
    fs::create_symlink(victim, dir.Path() / ".saved.cfg.cfgtmp-AAAAAAAA");
    ASSERT_EQ(save("saved.cfg"), "no error");
    for (const int fd : held)
        ::close(fd);
    for (const auto &c : cases)
        EXPECT_EQ(fs::exists(dir.Path() / c.name), !c.removed) << c.name;
    EXPECT_EQ(dir.Read("victim.txt"), "victim");
    EXPECT_EQ(dir.Read("saved.cfg"), kNew);
    EXPECT_EQ(fs::read_symlink(dir.Path() / ".saved.cfg.cfgtmp-AAAAAAAA"), victim);
    EXPECT_EQ(namesIn(dir.Path()).size(), 8u) << "the save's own temporary file is gone";
}

TEST(ReadRegularFile, OnlyRegularFilesWithinTheLimitAreReadAndNoneIsWaitedOn)
{
    TTempDir dir;
    constexpr std::uintmax_t kLimit = 1024 * 1024;
    dir.Write("small.xml", "abc");
    fs::resize_file(dir.Write("at-limit.xml", ""), kLimit);
    fs::resize_file(dir.Write("over-limit.xml", ""), kLimit + 1);
    fs::create_directory(dir.Path() / "folder.xml");
    // A FIFO would block an ordinary open for ever, /dev/zero fill the memory.
    ASSERT_EQ(::mkfifo(dir.File("fifo.xml").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir.Path() / "zero.xml");
    const struct {
        const char *name;
        std::string reason; // empty: read
        std::size_t size;
    } cases[] = {
        {"small.xml", "", 3},
        {"at-limit.xml", "", kLimit},
        {"over-limit.xml", "файл больше 1 МиБ", 0},
        {"folder.xml", "это не обычный файл", 0},
        {"fifo.xml", "это не обычный файл", 0},
        {"zero.xml", "это не обычный файл", 0},
        {"missing.xml", "не удалось открыть файл: Нет такого файла или устройства", 0},
    };
    for (const auto &c : cases) {
        std::string reason;
        const auto bytes = ReadRegularFile(dir.Path() / c.name, kLimit, reason);
        EXPECT_EQ(reason, c.reason) << c.name;
        EXPECT_EQ(bytes ? bytes->size() : 0, c.size) << c.name;
    }
    EXPECT_EQ(MessageOf([&] { LoadSettingsFile(dir.File("fifo.xml"), dir.Path()); }),
              "Ошибка загрузки файла " + dir.File("fifo.xml") + "\r\nСтрока 0: это не обычный файл\r\n");
}

TEST(ReadOnce, OpeningASettingsFileReadsItAndEachCatalogueFileOnce)
{
    RegisterPlainTestModels();
    TTempDir dir;
    dir.Write("a.xml", R"(<devices><device hw="4"/></devices>)");
    dir.Write("b.xml", R"(<devices><device hw="5" sw_high="100"/><device hw="5"/></devices>)");
    dir.Write("c.xml", R"(<devices><device hw="5"/></devices>)");
    const std::string settings = dir.Write("s.cfg", R"(<config hw="5" sw="300"><a>1</a></config>)");
    // Opens of files in the folder, counted by the system; open and close alternate, so none merge.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir.Path().c_str(), IN_OPEN | IN_CLOSE_NOWRITE), 0);
    const auto opens = [&] {
        std::map<std::string, int> counted;
        alignas(inotify_event) char buffer[64 * 1024];
        ssize_t got;
        while ((got = ::read(watch, buffer, sizeof buffer)) > 0) {
            for (char *at = buffer; at < buffer + got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                if ((event->mask & IN_OPEN) && !(event->mask & IN_ISDIR))
                    ++counted[event->name];
                at += sizeof(inotify_event) + event->len;
            }
        }
        return counted;
    };

    const TConfigModelPtr model = LoadSettingsFile(settings, dir.Path());
    EXPECT_EQ(opens(), (std::map<std::string, int>{{"s.cfg", 1}, {"a.xml", 1}, {"b.xml", 1}}));
    EXPECT_EQ(model->ValueDocument().DocumentElement().ChildElement("a").Text(), "1");
    EXPECT_EQ(model->DescriptionFile().filename(), "b.xml");
    EXPECT_EQ(CreateConfigModel(dir.Path(), 5, 300)->DescriptionFile().filename(), "b.xml");
    EXPECT_EQ(opens(), (std::map<std::string, int>{{"a.xml", 1}, {"b.xml", 1}}));
    ::close(watch);
}
