// The Debian package that `cpack -G DEB` makes from the build tree: lintian finds no error, it
// holds the programs and their desktop files, it unpacks into a tree whose desktop entry,
// metainfo, polkit policy, manual pages and bash completion work, and apt can install it here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The value of key in a desktop entry ("" when missing).
std::string DesktopValue(const std::string& entry, const std::string& key)
{
    std::istringstream in(entry);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return {};
}

// The package, made once for all cases into its own folder and unpacked beside it.
struct BuiltPackage
{
    std::string deb; // "" when cpack or the unpacking failed
    fs::path root;   // the unpacked tree
    std::string log; // what cpack and dpkg-deb said
};

BuiltPackage MakePackage()
{
    BuiltPackage built;
    const fs::path dir = fs::path(ORL_BINARY_DIR) / "package-test";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir / "root");
    built.root = dir / "root";
    const std::string cpack = std::string(ORL_CPACK) + " -G DEB -B " + Quote(dir.string()) +
                              " --config " +
                              Quote(std::string(ORL_BINARY_DIR) + "/CPackConfig.cmake") + " 2>&1";
    if (RunCommand(cpack, &built.log) != 0)
        return built;
    std::string deb;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec))
        if (e.path().extension() == ".deb")
            deb = e.path().string();
    std::string unpacked;
    if (!deb.empty() &&
        RunCommand("dpkg-deb -x " + Quote(deb) + " " + Quote(built.root.string()) + " 2>&1",
                   &unpacked) == 0)
        built.deb = deb;
    built.log += unpacked;
    return built;
}

const BuiltPackage& Package()
{
    static const BuiltPackage kPackage = MakePackage();
    return kPackage;
}

class PackageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Package().deb.empty()) << "cpack -G DEB made no package:\n" << Package().log;
        m_deb = Package().deb;
        m_root = Package().root;
    }

    std::string m_deb;
    fs::path m_root;
};
} // namespace

TEST_F(PackageTest, LintianFindsNoError)
{
    std::string out;
    const int rc =
        RunCommand("lintian --fail-on error --tag-display-limit 0 " + Quote(m_deb) + " 2>&1", &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(out.find("\nE: "), std::string::npos) << out;
}

TEST_F(PackageTest, HoldsTheProgramsAndTheirDesktopFiles)
{
    std::string listing;
    ASSERT_EQ(RunCommand("dpkg-deb -c " + Quote(m_deb), &listing), 0);
    const std::vector<std::string> files = {
        "./usr/bin/orlavent",
        "./usr/bin/orlavent-cli",
        "./usr/share/applications/orlavent.desktop",
        "./usr/share/metainfo/org.orlavent.Orlavent.metainfo.xml",
        "./usr/share/polkit-1/actions/org.orlavent.pkexec.policy",
        "./usr/share/icons/hicolor/scalable/apps/orlavent.svg",
        "./usr/share/icons/hicolor/16x16/apps/orlavent.png",
        "./usr/share/icons/hicolor/22x22/apps/orlavent.png",
        "./usr/share/icons/hicolor/24x24/apps/orlavent.png",
        "./usr/share/icons/hicolor/32x32/apps/orlavent.png",
        "./usr/share/icons/hicolor/48x48/apps/orlavent.png",
        "./usr/share/icons/hicolor/64x64/apps/orlavent.png",
        "./usr/share/icons/hicolor/128x128/apps/orlavent.png",
        "./usr/share/icons/hicolor/256x256/apps/orlavent.png",
        "./usr/share/man/man1/orlavent.1.gz",
        "./usr/share/man/man1/orlavent-cli.1.gz",
        "./usr/share/bash-completion/completions/orlavent-cli",
        "./usr/share/doc/orlavent/copyright",
        "./usr/share/doc/orlavent/changelog.gz",
    };
    for (const std::string& file : files)
        EXPECT_NE(listing.find(" " + file + "\n"), std::string::npos) << file << "\n" << listing;
    // Nothing of the build or the tests rides along.
    EXPECT_EQ(listing.find("/usr/include"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("Test"), std::string::npos) << listing;
}

TEST_F(PackageTest, ControlNamesTheVersionAndTheDerivedDependencies)
{
    std::string version;
    std::string depends;
    ASSERT_EQ(RunCommand("dpkg-deb -f " + Quote(m_deb) + " Version", &version), 0);
    ASSERT_EQ(RunCommand("dpkg-deb -f " + Quote(m_deb) + " Depends", &depends), 0);
    EXPECT_EQ(version, std::string(ORL_VERSION) + "\n");
    for (const char* package :
         {"pkexec", "libc6", "libblkid1", "libewf2", "libwxgtk3.2-1", "libglib2.0-0"})
        EXPECT_NE(depends.find(package), std::string::npos) << package << " in " << depends;
    // apt resolves those dependencies on this Debian machine (it installs nothing here).
    std::string plan;
    EXPECT_EQ(RunCommand("apt-get install -s -q " + Quote(m_deb) + " 2>&1", &plan), 0) << plan;
    EXPECT_NE(plan.find("Inst orlavent "), std::string::npos) << plan;
}

TEST_F(PackageTest, InstalledProgramsPrintTheVersion)
{
    for (const char* program : {"orlavent", "orlavent-cli"})
    {
        std::string out;
        // No display: the wizard answers --version before it starts the toolkit.
        EXPECT_EQ(RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY " +
                                 Quote((m_root / "usr/bin" / program).string()) + " --version",
                             &out),
                  0)
            << program;
        EXPECT_EQ(out, std::string(program) + " " + ORL_VERSION + "\n");
    }
}

TEST_F(PackageTest, MenuEntryStartsTheWizardThroughPkexec)
{
    const fs::path entry = m_root / "usr/share/applications/orlavent.desktop";
    const fs::path metainfo = m_root / "usr/share/metainfo/org.orlavent.Orlavent.metainfo.xml";
    const fs::path policy = m_root / "usr/share/polkit-1/actions/org.orlavent.pkexec.policy";
    std::string out;
    EXPECT_EQ(RunCommand("desktop-file-validate " + Quote(entry.string()) + " 2>&1", &out), 0)
        << out;
    EXPECT_EQ(out.find("error"), std::string::npos) << out;
    EXPECT_EQ(
        RunCommand("appstreamcli validate --no-net " + Quote(metainfo.string()) + " 2>&1", &out), 0)
        << out;
    // polkit reads the policy only when it is valid against polkit's own document type.
    EXPECT_EQ(RunCommand("xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd " +
                             Quote(policy.string()) + " 2>&1",
                         &out),
              0)
        << out;

    const std::string desktop = ReadText(entry);
    EXPECT_EQ(DesktopValue(desktop, "Exec"), "pkexec /usr/bin/orlavent");
    EXPECT_EQ(DesktopValue(desktop, "Icon"), "orlavent");
    EXPECT_EQ(DesktopValue(desktop, "Categories"), "System;Utility;");
    EXPECT_EQ(DesktopValue(desktop, "Keywords").rfind("undelete;recover;", 0), 0u) << desktop;
    // pkexec runs a program only when a policy names that very path.
    const std::string rules = ReadText(policy);
    EXPECT_NE(rules.find("<annotate key=\"org.freedesktop.policykit.exec.path\">/usr/bin/"
                         "orlavent</annotate>"),
              std::string::npos)
        << rules;
    EXPECT_NE(rules.find("<annotate key=\"org.freedesktop.policykit.exec.allow_gui\">true"),
              std::string::npos)
        << rules;
    EXPECT_NE(rules.find("<allow_active>auth_admin_keep</allow_active>"), std::string::npos)
        << rules;
    EXPECT_TRUE(fs::is_regular_file(m_root / "usr/bin/orlavent"));
}

TEST_F(PackageTest, ManualPagesRenderWithoutWarnings)
{
    for (const char* page : {"orlavent", "orlavent-cli"})
    {
        const fs::path file = m_root / "usr/share/man/man1" / (std::string(page) + ".1.gz");
        std::string warnings;
        std::string text;
        EXPECT_EQ(
            RunCommand("MANWIDTH=80 man --warnings -l " + Quote(file.string()) + " 2>&1 >/dev/null",
                       &warnings),
            0)
            << page;
        EXPECT_EQ(warnings, "") << page;
        EXPECT_EQ(RunCommand("MANWIDTH=80 man -l " + Quote(file.string()) + " 2>/dev/null", &text),
                  0);
        EXPECT_NE(text.find(std::string(page) + " - "), std::string::npos) << text;
        EXPECT_NE(text.find(std::string("Orlavent ") + ORL_VERSION), std::string::npos) << text;
    }
}

TEST_F(PackageTest, BashCompletionOffersCommandsOptionsAndFiles)
{
    const fs::path script = m_root / "usr/share/bash-completion/completions/orlavent-cli";
    const std::string dir = ScratchDir("completion");
    fs::create_directories(fs::path(dir) / "rescue");
    std::ofstream(fs::path(dir) / "card.img") << "x";
    struct Case
    {
        std::string line; // the words typed so far; the last one is being completed
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"orlavent-cli ''", "drives scan recover bootinfo help --help --version"},
        {"orlavent-cli re", "recover"},
        {"orlavent-cli help b", "bootinfo"},
        {"orlavent-cli scan --",
         "--help --json --csv --bodyfile --filter --type --recoverable --deep"},
        {"orlavent-cli bootinfo --", "--help --json"},
        {"orlavent-cli recover --", "--help --to --item --max-rate --contiguous --report --filter "
                                    "--type --recoverable --deep"},
        {"orlavent-cli recover --type a", "all audio archives"},
        {"orlavent-cli scan --filter ''", ""},
        {"orlavent-cli drives --", "--help --deep"},
        {"orlavent-cli recover --max-rate ''", ""},
        {"orlavent-cli recover --to " + dir + "/", dir + "/rescue"},
        {"orlavent-cli recover --report " + dir + "/c", dir + "/card.img"},
        {"orlavent-cli scan --json " + dir + "/c", dir + "/card.img"},
    };
    for (const Case& c : cases)
    {
        const std::string body = ". " + Quote(script.string()) + "; COMP_WORDS=(" + c.line +
                                 "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _orlavent_cli; "
                                 "echo \"${COMPREPLY[*]}\"";
        std::string out;
        EXPECT_EQ(RunCommand("bash -c " + Quote(body), &out), 0) << c.line;
        EXPECT_EQ(out, c.expected + "\n") << c.line;
    }
}
