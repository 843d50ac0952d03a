# The libraries others may build on, installed as static archives with their
# public headers under include/wexmidi/, a CMake package (wexmidi::...) and a
# pkg-config file. The server and the program's own library stay inside.
include(CMakePackageConfigHelpers)

set(wex_installed_libraries support services embedded midi host patches midiio)
if(WEX_JACK)
  list(APPEND wex_installed_libraries jack)
endif()
if(WEX_ALSA)
  list(APPEND wex_installed_libraries alsa)
endif()

# The headers a user of each library reaches; the others (helpers of one
# source file, panel layouts, settings controllers) are not installed.
set(wex_public_headers_support LimitedFileReader.h MainThread.h MutLockArray.h SystemLog.h)
set(wex_public_headers_services
    CallbackFailures.h CallbackGate.h ClientTable.h EndpointTable.h MIDIPacketList.h
    MIDIPacketListAppender.h MIDIPacketListBuffer.h MIDIServices.h MIDIStatus.h MIDITypes.h)
set(wex_public_headers_embedded
    EmbeddedCallbackQueue.h EmbeddedDeviceRecording.h EmbeddedFaultInjector.h
    EmbeddedMIDIServices.h)
set(wex_public_headers_jack
    JackCycleClock.h JackEndpointTable.h JackInputStream.h JackMIDIServices.h
    JackMessageSplitter.h JackOutputStream.h JackProcessTable.h JackProgressSignal.h JackReader.h
    JackRingBuffer.h JackSetupWatcher.h JackWakeSignal.h)
set(wex_public_headers_alsa
    AlsaEndpointTable.h AlsaEventCoder.h AlsaInputStream.h AlsaMIDIServices.h AlsaReader.h
    AlsaSender.h AlsaSequencer.h)
set(wex_public_headers_midi
    FeedbackWatch.h OrvMIDIDelegateProtocol.h OrvMIDIManager.h OrvMIDIMessage.h
    OrvMIDIMessagePool.h OrvMIDINode.h OrvMIDIReadTarget.h OrvMIDISnapshot.h SendFailures.h
    SendPacker.h SoundingNotes.h)
set(wex_public_headers_host
    Composition.h CompositionError.h CompositionFile.h CompositionGraph.h EvaluationThread.h
    InputFeed.h JSONReader.h NumberControl.h PanelSwitch.h PatchPositions.h PlugInRegistry.h
    PortAddress.h PortTable.h QCPlugIn.h QCPlugInClass.h QCPlugInContext.h QCPlugInHost.h
    QCPlugInHostException.h QCPlugInTypes.h QCPlugInViewController.h QCPropertyPort.h
    Structure.h TableColumn.h TableView.h Value.h ValueJSON.h)
set(wex_public_headers_patches
    DistributorPlugIn.h MIDI_14bit_MessagePlugIn.h MIDI_CCDistributorPlugIn.h MIDI_GroupPlugIn.h
    MIDI_MessagePlugIn.h MIDI_NoteDistributorPlugIn.h MIDI_ReceiverPlugIn.h MIDI_SenderPlugIn.h
    MIDIReceiver.h MIDISender.h WexPatches.h)
set(wex_public_headers_midiio
    HexReader.h MessageFilter.h MessageFormat.h MessageJSON.h MIDIFilePlayer.h MIDIFileReader.h
    SourceFollower.h)
set(wex_header_folder_support support)
set(wex_header_folder_services services)
set(wex_header_folder_embedded services/embedded)
set(wex_header_folder_jack services/jack)
set(wex_header_folder_alsa services/alsa)
set(wex_header_folder_midi midi)
set(wex_header_folder_host host)
set(wex_header_folder_patches patches)
set(wex_header_folder_midiio midiio)

set(wex_installed_targets)
set(wex_pkgconfig_libs)
foreach(library IN LISTS wex_installed_libraries)
  set(target wex_${library})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${library}
                                             OUTPUT_NAME wexmidi-${library})
  list(APPEND wex_installed_targets ${target})
  set(folder ${wex_header_folder_${library}})
  list(TRANSFORM wex_public_headers_${library} PREPEND ${PROJECT_SOURCE_DIR}/src/${folder}/
       OUTPUT_VARIABLE headers)
  install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/wexmidi/${folder})
endforeach()

# wexmidi::wexmidi: the patches with every backend built, what the pkg-config
# file gives too.
add_library(wex_everything INTERFACE)
set_target_properties(wex_everything PROPERTIES EXPORT_NAME wexmidi)
target_link_libraries(wex_everything INTERFACE ${wex_installed_targets})
list(APPEND wex_installed_targets wex_everything)

install(TARGETS ${wex_installed_targets} EXPORT wexmidiTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
set(wex_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/wexmidi)
install(EXPORT wexmidiTargets NAMESPACE wexmidi:: DESTINATION ${wex_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/wexmidiConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/wexmidiConfig.cmake
                              INSTALL_DESTINATION ${wex_cmake_dir})
# Before 1.0 a new minor version may change the interfaces.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/wexmidiConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/wexmidiConfig.cmake
              ${PROJECT_BINARY_DIR}/wexmidiConfigVersion.cmake DESTINATION ${wex_cmake_dir})

# The archives in the order a static link needs: users before what they use.
set(wex_pkgconfig_libs
    "-lwexmidi-midiio -lwexmidi-patches -lwexmidi-host -lwexmidi-midi -lwexmidi-embedded")
set(wex_pkgconfig_requires "nlohmann_json")
if(WEX_JACK)
  string(APPEND wex_pkgconfig_libs " -lwexmidi-jack")
  string(APPEND wex_pkgconfig_requires " jack")
endif()
if(WEX_ALSA)
  string(APPEND wex_pkgconfig_libs " -lwexmidi-alsa")
  string(APPEND wex_pkgconfig_requires " alsa")
endif()
string(APPEND wex_pkgconfig_libs " -lwexmidi-services -lwexmidi-support -pthread")
file(RELATIVE_PATH wex_pkgconfig_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/wexmidi.pc.in ${PROJECT_BINARY_DIR}/wexmidi.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/wexmidi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
