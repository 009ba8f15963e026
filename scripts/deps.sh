# Debian packages the project needs, in one place. Source this file and call
#   install_deps GROUP...
# with the groups below; only packages that are not installed yet are fetched, so a machine
# that already has everything is left alone (no apt-get update, no network).
#
# Groups:
#   build   compilers, CMake, Ninja, pkg-config, libblkid (drive table), libewf (Expert Witness
#           images as sources), libjpeg-turbo and zlib (the JPEG, ZIP and GZIP validators of
#           carving) and GoogleTest (the tests are configured by default),
#           clang-format and clang-tidy (scripts/check-code.sh)
#   images  the tools that build and cross-check test volumes at test time (fdisk: sfdisk;
#           exfatprogs and exfat-fuse: exFAT volumes written through FUSE; ewf-tools:
#           ewfacquire for the Expert Witness images; python3: record bytes the recipes write;
#           imagemagick and sqlite3: pictures and databases the carving tests write;
#           libjpeg-turbo-progs: cjpeg and jpegtran, JPEGs with restart markers for the
#           carving tests; e2fsprogs: mkfs.ext4, a card reformatted with another file system)
#   test    the rest of the test suite: sanitizer and fuzzer runtimes for clang, Google
#           Benchmark, libntfs-3g headers
#   gui     wxWidgets, GIO (file types from the shared MIME database), the icon theme, rsvg-convert
#           (the PNG icons), and a virtual X server (with Xlib for screenshots) for the desktop
#           wizard and its tests
#   package what `cpack -G DEB` needs (dpkg-shlibdeps, file) and the tools that check the
#           package: lintian, desktop-file-validate, appstreamcli, xmllint with polkit's
#           document type (pkexec, also the package's own dependency) and man
#   bench   the peer tools only the benchmarks in bench/ run: testdisk (PhotoRec, the carving
#           tool bench/deep/ times beside the deep search)

ORL_DEPS_BUILD=(build-essential cmake ninja-build g++ clang clang-format clang-tidy pkg-config
    libblkid-dev libewf-dev libgtest-dev googletest libjpeg62-turbo-dev zlib1g-dev)
ORL_DEPS_IMAGES=(dosfstools mtools ntfs-3g sleuthkit xxd fdisk util-linux time exfatprogs
    exfat-fuse ewf-tools python3 imagemagick sqlite3 libjpeg-turbo-progs e2fsprogs)
ORL_DEPS_TEST=(libclang-rt-14-dev libbenchmark-dev ntfs-3g-dev)
ORL_DEPS_GUI=(libwxgtk3.2-dev libglib2.0-dev libx11-dev shared-mime-info adwaita-icon-theme
    librsvg2-bin xvfb xauth)
ORL_DEPS_PACKAGE=(dpkg-dev file lintian desktop-file-utils appstream libxml2-utils pkexec man-db)
ORL_DEPS_BENCH=(testdisk)

# Prints the packages of the named groups that dpkg does not list as installed.
missing_deps()
{
    local group pkg
    local -a wanted=()
    for group in "$@"; do
        case "$group" in
            build) wanted+=("${ORL_DEPS_BUILD[@]}") ;;
            images) wanted+=("${ORL_DEPS_IMAGES[@]}") ;;
            test) wanted+=("${ORL_DEPS_TEST[@]}") ;;
            gui) wanted+=("${ORL_DEPS_GUI[@]}") ;;
            package) wanted+=("${ORL_DEPS_PACKAGE[@]}") ;;
            bench) wanted+=("${ORL_DEPS_BENCH[@]}") ;;
            *)
                echo "deps.sh: unknown package group '$group'" >&2
                return 2
                ;;
        esac
    done
    for pkg in "${wanted[@]}"; do
        if [ "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)" != "install ok installed" ]; then
            echo "$pkg"
        fi
    done
}

# Installs the packages of the named groups that are missing. Needs root (or sudo).
install_deps()
{
    local -a missing
    local -a sudo=()
    mapfile -t missing < <(missing_deps "$@") || return 2
    if [ "${#missing[@]}" -eq 0 ]; then
        echo "deps: all packages present ($*)"
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "deps: missing packages ${missing[*]}; run as root or install sudo" >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "deps: installing ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q || return 1
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}" || return 1
}
