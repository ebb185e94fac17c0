#pragma once

// What every fuzz target shares: the failure report, the sample catalogue,
// the model registration and scratch folders.

#include "model/errors.h"
#include "model/model.h"
#include "model/tools.h"
#include "model/tree_grid.h"
#include "model_bin/model_bin.h"
#include "model_xml/model_xml.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

// A broken promise of the code under test ends the run like a crash, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition) \
    ((condition) ? void(0) : fuzz::Fail(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void Fail(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

// The project's own catalogue with the sample devices.
inline std::filesystem::path SampleCatalogue()
{
    return CATALOGUE_DIR;
}

// Sample binary device (hw 5, sw 300) and sample XML device (hw 7, sw 120).
inline constexpr std::uint16_t kBinaryHw = 5;
inline constexpr std::uint16_t kBinarySw = 300;
inline constexpr std::uint16_t kXmlHw = 7;
inline constexpr std::uint16_t kXmlSw = 120;

inline void RegisterModels()
{
    static const bool registered = [] {
        RegisterBinaryConfigModel();
        RegisterXmlConfigModel();
        return true;
    }();
    (void)registered;
}

// The model of a sample device, with at least one block.
inline TConfigModelPtr SampleModel(std::uint16_t hw, std::uint16_t sw)
{
    TConfigModelPtr model = CreateConfigModel(SampleCatalogue(), hw, sw);
    FUZZ_CHECK(model && model->GetBlockCount() > 0);
    return model;
}

// A folder of this process's own, made on first use and removed when the process ends normally.
class TScratchDir {
public:
    explicit TScratchDir(std::string_view purpose)
    {
        const std::string prefix = "configurator-" + std::string(purpose) + "-";
        const auto temp = std::filesystem::temp_directory_path();
        removeLeftovers(temp, prefix);
        m_path = temp / (prefix + std::to_string(::getpid()));
        std::filesystem::create_directories(m_path);
    }
    ~TScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TScratchDir(const TScratchDir &) = delete;
    TScratchDir &operator=(const TScratchDir &) = delete;

    const std::filesystem::path &Path() const { return m_path; }

    // Replaces the file's contents and returns its path.
    std::filesystem::path Write(const std::string &name, const std::uint8_t *data, std::size_t size) const
    {
        const auto path = m_path / name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
        out.close();
        if (!out)
            Fail(("cannot write " + path.string()).c_str(), __FILE__, __LINE__);
        return path;
    }
    std::filesystem::path Write(const std::string &name, std::string_view text) const
    {
        return Write(name, reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
    }

private:
    // A run that crashed never removed its folder; the next run does, once that process is gone.
    static void removeLeftovers(const std::filesystem::path &temp, const std::string &prefix)
    {
        std::error_code ec;
        for (std::filesystem::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string pid = name.substr(prefix.size());
            if (pid.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::error_code ignored;
            if (!std::filesystem::exists(std::filesystem::path("/proc") / pid, ignored))
                std::filesystem::remove_all(it->path(), ignored);
        }
    }

    std::filesystem::path m_path;
};

// Fills the grid and renders it as the command-line tool prints it; the text is what the user would see.
inline std::string FillAndRender(IConfigModel &model, TTreeGrid &grid)
{
    try {
        model.FillTree(grid);
    } catch (const EError &) {
        FUZZ_CHECK(!grid.Updating());
        throw;
    }
    FUZZ_CHECK(!grid.Updating());
    return TreeText(grid);
}

} // namespace fuzz
