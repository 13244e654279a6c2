# The Encoded Flash page's player: Qt WebEngine and the local server, the player page built into
# the program, and Ruffle's files copied beside the program (as presets/ is) and installed.
include(GNUInstallDirs)
find_package(Qt6 REQUIRED COMPONENTS WebEngineWidgets Network)
target_link_libraries(quillon_app PUBLIC Qt6::WebEngineWidgets Qt6::Network)
# Compiled in as plain sources (the program initialises them by name, Q_INIT_RESOURCE(player)),
# so that targets in other folders link quillon_app without Qt's own targets in scope.
qt_add_resources(player_page_sources ${CMAKE_CURRENT_LIST_DIR}/player.qrc)
target_sources(quillon_app PRIVATE ${player_page_sources})

# The pinned npm package that scripts/install-deps installs for the end-to-end tests. Only what
# the player loads is copied, and its licences; not the source maps.
set(QUILLON_RUFFLE_DIR ${PROJECT_SOURCE_DIR}/tests/e2e/node_modules/@ruffle-rs/ruffle
    CACHE PATH "Folder of the @ruffle-rs/ruffle package played by the Encoded Flash page")
file(GLOB ruffle_files CONFIGURE_DEPENDS
  ${QUILLON_RUFFLE_DIR}/ruffle.js ${QUILLON_RUFFLE_DIR}/core.ruffle.*.js
  ${QUILLON_RUFFLE_DIR}/*.wasm ${QUILLON_RUFFLE_DIR}/LICENSE_* ${QUILLON_RUFFLE_DIR}/package.json)
if(NOT EXISTS ${QUILLON_RUFFLE_DIR}/ruffle.js)
  message(WARNING "Ruffle not found in ${QUILLON_RUFFLE_DIR} (run scripts/install-deps): "
                  "the Encoded Flash page will not play movies")
else()
  add_custom_target(quillon_ruffle ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:quillon>/ruffle
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ruffle_files} $<TARGET_FILE_DIR:quillon>/ruffle
    COMMENT "Copying Ruffle next to quillon")
  add_dependencies(quillon_ruffle quillon)
endif()

# Installed into the program's own folder, where the page looks for it; that folder is chosen
# with the program's install rule.
if(NOT QUILLON_INSTALL_APP_DIR)
  set(QUILLON_INSTALL_APP_DIR ${CMAKE_INSTALL_BINDIR})
endif()
if(ruffle_files)
  install(FILES ${ruffle_files} DESTINATION ${QUILLON_INSTALL_APP_DIR}/ruffle)
endif()
