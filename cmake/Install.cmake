# Where `cmake --install` puts the programs, their files, the menu entry, the icon, the software
# centre's description, the shell completion, the manual pages and the package's documents.
#
# The window finds its skin, splash and help file beside its executable, so both programs live in
# a private folder with those files, and bin/ holds relative symbolic links to them. The links
# keep the tree movable (a package's root, DESTDIR, `--prefix` at install time); the window,
# started through its link, still sees the private folder, as it resolves its own path through
# /proc/self/exe.
include(GNUInstallDirs)

set(TAMBREL_INSTALL_PRIVATEDIR ${CMAKE_INSTALL_LIBDIR}/tambrel)

install(TARGETS tambrel tambrel-cli RUNTIME DESTINATION ${TAMBREL_INSTALL_PRIVATEDIR})
# The process both programs read drives and libcdio's disc images in, found beside them.
install(TARGETS tambrel-reader RUNTIME DESTINATION ${TAMBREL_INSTALL_PRIVATEDIR})
# FFmpeg's encoders, loaded from beside the programs when first needed.
install(TARGETS tambrel_ffmpeg LIBRARY DESTINATION ${TAMBREL_INSTALL_PRIVATEDIR})
# Made by the targets skin_file, splash_file and help_file.
install(FILES
    ${TAMBREL_PROGRAM_DIR}/main.skn
    ${TAMBREL_PROGRAM_DIR}/Moravel.spl
    ${TAMBREL_PROGRAM_DIR}/Pellmar.chm
    DESTINATION ${TAMBREL_INSTALL_PRIVATEDIR})

# The links are made in the build tree (dangling there) and installed as links. Their target is
# relative when both folders are under the prefix, which is what GNUInstallDirs gives by default.
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" OR IS_ABSOLUTE "${TAMBREL_INSTALL_PRIVATEDIR}")
    set(link_target_dir ${CMAKE_INSTALL_FULL_LIBDIR}/tambrel)
else()
    file(RELATIVE_PATH link_target_dir /prefix/${CMAKE_INSTALL_BINDIR}
         /prefix/${TAMBREL_INSTALL_PRIVATEDIR})
endif()
set(link_dir ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${link_dir})
foreach(program tambrel tambrel-cli)
    file(CREATE_LINK ${link_target_dir}/${program} ${link_dir}/${program} SYMBOLIC)
    install(FILES ${link_dir}/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/ui/desktop/tambrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/ui/desktop/tambrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# What software centres show of the window program.
install(FILES ${PROJECT_SOURCE_DIR}/ui/desktop/org.tambrel.Tambrel.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Where bash-completion looks for a command's completion, by the command's name.
install(FILES ${PROJECT_SOURCE_DIR}/cli/tambrel-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tambrel-cli)
# The manual pages and the package's documents: docs/man.
