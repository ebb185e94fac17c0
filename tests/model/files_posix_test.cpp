// Reading and saving files on POSIX systems, and what the catalogue and the
// settings files make of files that are not what they seem.
#include "model/errors.h"
#include "model/files.h"
#include "model/model.h"
#include "model/tools.h"
#include "tests/model/catalogue_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
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
    // The message of a save of kNew to name, or "no error".
    std::string save(const fs::path &name) { return MessageOf([&] { WriteFileAtomically(dir.Path() / name, kNew); }); }
    std::string failure(const fs::path &name, const std::string &reason)
    {
        return "Не удалось записать файл " + (dir.Path() / name).string() + ": " + reason;
    }

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
        return;
    dir.Write("owned.cfg", kOld);
    ASSERT_EQ(::chown(dir.File("owned.cfg").c_str(), 1234, 5678), 0);
    ASSERT_EQ(save("owned.cfg"), "no error");
    struct stat saved;
    ASSERT_EQ(::stat(dir.File("owned.cfg").c_str(), &saved), 0);
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
    } cases[] = {
        {"relative.cfg", "data/real.cfg", "data/real.cfg"},
        {"absolute.cfg", dir.Path() / "data/real.cfg", "data/real.cfg"},
        {"chain.cfg", "relative.cfg", "data/real.cfg"},
        {"dangling.cfg", "data/made-by-the-save.cfg", "data/made-by-the-save.cfg"},
    };
    for (const auto &c : cases)
        fs::create_symlink(c.pointsTo, dir.Path() / c.link);
    for (const auto &c : cases) {
        const bool replacing = std::string(c.link) != "dangling.cfg";
        if (replacing) {
            dir.Write(c.target, kOld);
            fs::permissions(dir.Path() / c.target, fs::perms(0600));
        }
        ASSERT_EQ(save(c.link), "no error") << c.link;
        EXPECT_TRUE(fs::is_symlink(dir.Path() / c.link)) << c.link;
        EXPECT_EQ(fs::read_symlink(dir.Path() / c.link), c.pointsTo) << c.link;
        EXPECT_EQ(dir.Read(c.target), kNew) << c.link;
        if (replacing) {
            EXPECT_EQ(permissionsOf(dir.Path() / c.target), fs::perms(0600)) << c.link;
        }
    }
    EXPECT_EQ(namesIn(dir.Path() / "data"), (std::vector<std::string>{"made-by-the-save.cfg", "real.cfg"}));
}

TEST_F(SaveTest, NoLinkInTheFolderIsFollowed)
{
    const std::string victim = dir.Write("victim.txt", "victim");
    dir.Write("saved.cfg", kOld);
    // The names the temporary file had before, and names of the present pattern.
    std::vector<std::string> planted;
    for (int i = 0; i < 100; ++i)
        planted.push_back(".saved.cfg.tmp" + std::to_string(i));
    for (const char *suffix : {"00000000", "AAAAAAAA", "zzzzzzzz"})
        planted.push_back(".saved.cfg.cfgtmp-" + std::string(suffix));
    for (const std::string &name : planted)
        fs::create_symlink(victim, dir.Path() / name);
    ASSERT_EQ(save("saved.cfg"), "no error");
    EXPECT_EQ(dir.Read("victim.txt"), "victim");
    EXPECT_EQ(dir.Read("saved.cfg"), kNew);
    for (const std::string &name : planted)
        EXPECT_EQ(fs::read_symlink(dir.Path() / name), victim) << name;
}

TEST_F(SaveTest, AFailedOrRefusedSaveKeepsTheOldFile)
{
    dir.Write("read-only.cfg", kOld);
    dir.Write("no-write-bits.cfg", kOld);
    dir.Write("plain-file", kOld);
    dir.Write("too-big.cfg", kOld);
    fs::create_directory(dir.Path() / "folder.cfg");
    fs::create_symlink("loop.cfg", dir.Path() / "loop.cfg");
    ASSERT_EQ(::chmod(dir.File("read-only.cfg").c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.File("no-write-bits.cfg").c_str(), 0500), 0);
    const struct {
        const char *name;
        std::string reason;
        const char *kept; // a file that must still hold kOld
    } cases[] = {
        {"read-only.cfg", "файл доступен только для чтения", "read-only.cfg"},
        {"no-write-bits.cfg", "файл доступен только для чтения", "no-write-bits.cfg"},
        {"missing/saved.cfg", "Нет такого файла или устройства", nullptr},
        {"plain-file/saved.cfg", "Путь проходит через файл, а не папку", "plain-file"},
        {"folder.cfg", "это не обычный файл", nullptr},
        {"loop.cfg", "Слишком много символических ссылок подряд", nullptr},
        // Writing stops after 4 bytes: the half-written temporary file must not replace the old one.
        {"too-big.cfg", "Файл слишком велик", "too-big.cfg"},
    };
    const auto names = namesIn(dir.Path());
    for (const auto &c : cases) {
        const bool limited = std::string(c.name) == "too-big.cfg";
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const auto signal = limited ? std::signal(SIGXFSZ, SIG_IGN) : SIG_DFL;
        if (limited) {
            rlimit small = previous;
            small.rlim_cur = 4;
            ::setrlimit(RLIMIT_FSIZE, &small);
        }
        const std::string message = save(c.name);
        if (limited) {
            ::setrlimit(RLIMIT_FSIZE, &previous);
            std::signal(SIGXFSZ, signal);
        }
        EXPECT_EQ(message, failure(c.name, c.reason)) << c.name;
        if (c.kept) {
            EXPECT_EQ(dir.Read(c.kept), kOld) << c.name;
        }
        EXPECT_EQ(namesIn(dir.Path()), names) << c.name << ": nothing left behind";
    }
    EXPECT_TRUE(fs::is_directory(dir.Path() / "folder.cfg"));
}

TEST_F(SaveTest, LongNamesAreSavedAndTemporaryNamesFit)
{
    std::string cyrillic;
    while (cyrillic.size() + 2 <= 255)
        cyrillic += "я";
    for (const std::string &name :
         {std::string(245, 'n'), std::string(250, 'n'), std::string(255, 'n'), cyrillic, "x" + cyrillic.substr(2)}) {
        const files::TName prefix = files::TemporaryPrefix(name);
        const std::size_t kept = prefix.size() - std::string(".").size() - std::string(".cfgtmp-").size();
        EXPECT_LE(prefix.size() + files::kRandomLength, 255u) << name.size();
        EXPECT_EQ(prefix, "." + name.substr(0, kept) + ".cfgtmp-");
        EXPECT_NE(name[kept] & 0xC0, 0x80) << "never cut inside a character";
        dir.Write(name, kOld);
        EXPECT_EQ(save(name), "no error") << name.size();
        EXPECT_EQ(dir.Read(name), kNew) << name.size();
        fs::remove(dir.Path() / name);
    }
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST_F(SaveTest, TemporariesOfKilledSavesOfTheSameFileAreRemoved)
{
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
        const int fd = ::open(dir.Write(c.name, "half a save").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        if (c.locked) {
            ASSERT_EQ(::flock(fd, LOCK_EX), 0);
        }
        held.push_back(fd);
    }
    ASSERT_EQ(save("saved.cfg"), "no error");
    for (const int fd : held)
        ::close(fd);
    for (const auto &c : cases)
        EXPECT_EQ(fs::exists(dir.Path() / c.name), !c.removed) << c.name;
    EXPECT_EQ(namesIn(dir.Path()).size(), 6u) << "the save's own temporary file is gone";
}

TEST(ReadRegularFile, OnlyRegularFilesWithinTheLimitAreRead)
{
    TTempDir dir;
    constexpr std::uintmax_t kLimit = 1024 * 1024;
    dir.Write("small.xml", "abc");
    fs::resize_file(dir.Write("at-limit.xml", ""), kLimit);
    fs::resize_file(dir.Write("over-limit.xml", ""), kLimit + 1);
    fs::create_directory(dir.Path() / "folder.xml");
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
}

TEST(SpecialFiles, CatalogueSkipsThemAndSettingsRefuseThemWithoutWaiting)
{
    RegisterPlainTestModels();
    TTempDir dir;
    dir.Write("b.xml", R"(<devices><device id="good" hw="5"/></devices>)");
    ASSERT_EQ(::mkfifo(dir.File("fifo.cfg").c_str(), 0600), 0);
    // A FIFO would block an ordinary open for ever, /dev/zero fill the memory.
    for (const auto &make : std::vector<std::function<void(const fs::path &)>>{
             [](const fs::path &path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
             [](const fs::path &path) { fs::create_symlink("/dev/zero", path); },
         }) {
        fs::remove(dir.Path() / "a.xml");
        make(dir.Path() / "a.xml");
        const auto model = CreateConfigModel(dir.Path(), 5, 1);
        ASSERT_TRUE(model);
        EXPECT_EQ(GetAttribute(model->DeviceElement(), "id"), "good");
    }
    EXPECT_EQ(MessageOf([&] { LoadSettingsFile(dir.File("fifo.cfg"), dir.Path()); }),
              "Ошибка загрузки файла " + dir.File("fifo.cfg") + "\r\nСтрока 0: это не обычный файл\r\n");
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
