# The Debian package, made by CPack's DEB generator from what `cmake --install` puts in place
# (scripts/package.sh builds it). CPack rather than a debian/ directory: the install rules are
# already the one description of the installed tree, and CPack reads them as they are; its
# SHLIBDEPS runs dpkg-shlibdeps over the programs and the FFmpeg module, so Depends lists the
# libraries the binaries really use.
set(TAMBREL_MAINTAINER "Tambrel developers <packages@tambrel.org>"
    CACHE STRING "The package's maintainer, name and address")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tambrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio CD ripper")
# Paragraphs; CPack indents them under the summary, as Debian's control files want.
set(CPACK_PACKAGE_DESCRIPTION [=[
Tambrel lists the CD drives and the tracks of the disc in the drive, or of a
disc image (cue sheet, cdrdao TOC or Nero image), and converts the checked
tracks into WAV, MP3, Ogg Vorbis or WMA files. Drives are read through
libcdio-paranoia, which verifies and retries; a track that fails leaves no
file behind.

The package holds the window program tambrel and the command-line tool
tambrel-cli, which adds FLAC, album data from the disc or MusicBrainz, and a
rip log with CRC32 and AccurateRip checksums.]=])
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TAMBREL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins (X11, Wayland) are only recommended by its libraries; without them the
# window can't open. dpkg-shlibdeps's list is added to this one.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The help file opens through xdg-open in the desktop's CHM viewer, when there is one.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xchm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack has ldconfig run after installing and removing, since the FFmpeg module is a shared
# object below /usr/lib (lintian: maintscript-calls-ldconfig). It is the programs' private module,
# loaded by its path, so the call does nothing; scripts of our own in its place would be empty
# ones, which lintian warns of as well.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
