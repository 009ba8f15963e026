# The Debian package: `cpack -G DEB` in the build folder makes orlavent_<version>_<arch>.deb from
# the install rules, installed under /usr, with its library dependencies found by
# dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orlavent)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orlavent developers")
set(CPACK_PACKAGE_CONTACT "Orlavent developers <maintainers@orlavent.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders the installation creates are 0755 whatever the umask of the one who packs.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "find and recover deleted files on FAT and NTFS volumes
Orlavent finds deleted files and folders on FAT12, FAT16, FAT32 and NTFS
volumes and copies them to a folder of your choice. It reads a disk, a
partition or an image file at the sector level, opened read-only, and never
writes to the volume it searches.
.
The package holds the command-line program orlavent-cli and, when built with
wxWidgets, the desktop wizard orlavent, whose menu entry asks for the
administrator's password through pkexec so that it can read the disks.")
# The libraries come from dpkg-shlibdeps, but for libewf, which is loaded when an Expert Witness
# image is opened. The menu entry starts the wizard through pkexec.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libewf2")
if(TARGET orlavent)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libewf2, pkexec")
endif()

include(CPack)
