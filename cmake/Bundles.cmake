# Assembles the three product bundles from the one executable:
#   <build>/bundles/<Flavour>.app/Contents/{Info.plist, MacOS/<Flavour>, Resources/}
set(PC_BUILD_NUMBER 100 CACHE STRING "CFBundleVersion of the bundles")
set(PC_BUNDLES_DIR ${CMAKE_BINARY_DIR}/bundles)

# name;identifier;display name;delegate
set(PC_FLAVOURS
    "SlideWand|com.brisvane.SlideWandForMac|Slide Wand|AppDelegateSlideWand"
    "PodiumCast|com.brisvane.PodiumCastForMac|PodiumCast|AppDelegatePodiumCast"
    "Steerlynx|com.brisvane.SteerlynxForMac|Steerlynx|AppDelegatePodiumCast")

# Scripts and images go straight into Resources, translations into Resources/translations.
file(GLOB PC_RESOURCE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/Scripts/* ${CMAKE_SOURCE_DIR}/resources/images/*)
file(GLOB PC_TRANSLATION_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/translations/*)

# The compiled scripts that read or drive an open presentation. No presentation application runs on
# Linux, so they all fail alike: each is made from one template and joins the scripts of
# resources/Scripts/ in Resources.
set(PC_DOCUMENT_SCRIPTS
    isPptPlayingOrNot isKeynotePlayingOrNot playPpt playKeynote
    getPptCurrentSlideIndex getPptCurrentSlideNumber getKeynoteCurrentSlideNumber
    getPptTotalSlideCount getKeynoteTotalSlideCount getPptWidth getPptHeight
    getPptCurrentSlideNote getPptNextSlideNote getPptAlternateSlideNote
    getPptCurrentPageNote getPptNextPageNote getPptAlternatePageNote
    getKeynoteCurrentSlideNote getKeynoteNextSlideNote getKeynoteAlternateSlideNote
    ppt2Pdf keynote2Pdf)
foreach(SCRIPT_NAME IN LISTS PC_DOCUMENT_SCRIPTS)
    set(script ${CMAKE_BINARY_DIR}/scripts/${SCRIPT_NAME}.scpt)
    configure_file(${CMAKE_SOURCE_DIR}/resources/script-templates/noDocument.scpt.in ${script} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    list(APPEND PC_RESOURCE_FILES ${script})
endforeach()

set(PC_BUNDLE_OUTPUTS)
foreach(flavour IN LISTS PC_FLAVOURS)
    string(REPLACE "|" ";" fields "${flavour}")
    list(GET fields 0 FLAVOUR_NAME)
    list(GET fields 1 FLAVOUR_IDENTIFIER)
    list(GET fields 2 FLAVOUR_DISPLAY_NAME)
    list(GET fields 3 FLAVOUR_DELEGATE)
    set(contents ${PC_BUNDLES_DIR}/${FLAVOUR_NAME}.app/Contents)
    configure_file(${CMAKE_SOURCE_DIR}/resources/Info.plist.in ${contents}/Info.plist @ONLY)
    set(stamp ${CMAKE_BINARY_DIR}/bundle-${FLAVOUR_NAME}.stamp)
    set(copy_resources)
    if(PC_RESOURCE_FILES)
        list(APPEND copy_resources COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PC_RESOURCE_FILES} ${contents}/Resources)
    endif()
    if(PC_TRANSLATION_FILES)
        list(APPEND copy_resources
             COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PC_TRANSLATION_FILES} ${contents}/Resources/translations)
    endif()
    add_custom_command(
        OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${contents}/MacOS ${contents}/Resources/translations
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:pc_app> ${contents}/MacOS/${FLAVOUR_NAME}
        ${copy_resources}
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS pc_app ${PC_RESOURCE_FILES} ${PC_TRANSLATION_FILES}
        COMMENT "Assembling ${FLAVOUR_NAME}.app")
    list(APPEND PC_BUNDLE_OUTPUTS ${stamp})
endforeach()
add_custom_target(bundles ALL DEPENDS ${PC_BUNDLE_OUTPUTS})
