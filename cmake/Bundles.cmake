# Assembles the product bundles from the one executable:
#   <build>/bundles/<Flavour>.app/Contents/{Info.plist, MacOS/<Flavour>, Resources/}
set(PC_BUILD_NUMBER 100 CACHE STRING "CFBundleVersion of the bundles")
set(PC_BUNDLES_DIR ${CMAKE_BINARY_DIR}/bundles)

# name|identifier|display name|delegate|first window. SlideWandLegacy is the Slide Wand flavour that opens
# the legacy LAN window.
set(PC_FLAVOURS
    "SlideWand|com.brisvane.SlideWandForMac|Slide Wand|AppDelegateSlideWand|SWDWelcomeWindowController"
    "PodiumCast|com.brisvane.PodiumCastForMac|PodiumCast|AppDelegatePodiumCast|SWDWelcomeWindowController"
    "Steerlynx|com.brisvane.SteerlynxForMac|Steerlynx|AppDelegatePodiumCast|SWDWelcomeWindowController"
    "SlideWandLegacy|com.brisvane.SlideWandLegacyForMac|Slide Wand|AppDelegateSlideWand|ViewController")

# Scripts and images go straight into Resources, translations into Resources/translations.
file(GLOB PC_RESOURCE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/Scripts/*)

# The pictures are drawn at build time (resources/images/draw_images.cpp).
set(PC_IMAGE_NAMES statusIcon greenLight redLight expandButton background version1 version2 version3)
set(PC_IMAGES_DIR ${CMAKE_BINARY_DIR}/images)
list(TRANSFORM PC_IMAGE_NAMES PREPEND ${PC_IMAGES_DIR}/ OUTPUT_VARIABLE PC_IMAGE_FILES)
list(TRANSFORM PC_IMAGE_FILES APPEND .png)
add_executable(pc_draw_images ${CMAKE_SOURCE_DIR}/resources/images/draw_images.cpp)
target_link_libraries(pc_draw_images PRIVATE Qt6::Gui)
# A build tool, not part of the program: it runs during the build, so no sanitizer may stop it there.
target_compile_options(pc_draw_images PRIVATE -fno-sanitize=all)
target_link_options(pc_draw_images PRIVATE -fno-sanitize=all)
add_custom_command(OUTPUT ${PC_IMAGE_FILES}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${PC_IMAGES_DIR}
                   COMMAND $<TARGET_FILE:pc_draw_images> ${PC_IMAGES_DIR}
                   DEPENDS pc_draw_images
                   COMMENT "Drawing the bundle's pictures")
list(APPEND PC_RESOURCE_FILES ${PC_IMAGE_FILES})
file(GLOB PC_TRANSLATION_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/translations/*)

# Compiled scripts made from a template: each joins the scripts of resources/Scripts/ in Resources.
function(pc_add_script template name description)
    set(SCRIPT_NAME ${name})
    set(SCRIPT_DESCRIPTION "${description}")
    set(script ${CMAKE_BINARY_DIR}/scripts/${name}.scpt)
    configure_file(${CMAKE_SOURCE_DIR}/resources/script-templates/${template} ${script} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    set(PC_RESOURCE_FILES ${PC_RESOURCE_FILES} ${script} PARENT_SCOPE)
endfunction()

# The PowerPoint scripts ask LibreOffice Impress, which opens PowerPoint files, through the resident bridge
# of resources/Scripts/impress_bridge.py: each is a copy of the bridge's client (src/platform/
# ImpressScriptClient.cpp), which takes the script's name from its own. name|what it answers
set(PC_IMPRESS_SCRIPTS
    "isPptOpenOrNot|the path of the presentation open in front, or \"no\""
    "isPptPlayingOrNot|\"yes\" while its slide show runs, no result while it does not"
    "playPpt|starts the slide show unless it runs, no result"
    "getPptCurrentSlideIndex|the number of the slide the slide show shows, from 1"
    "getPptCurrentSlideNumber|the number of the slide the editing view shows, from 1"
    "getPptTotalSlideCount|the number of slides"
    "getPptWidth|the slide width in points"
    "getPptHeight|the slide height in points"
    "getPptCurrentSlideNote|the note of the slide the slide show shows"
    "getPptNextSlideNote|the note of the slide the slide show shows next, empty at the end"
    "getPptAlternateSlideNote|the Alternate note: the note of the previous slide of the slide show, the one a step back returns to (hidden slides skipped), empty on the first"
    "getPptCurrentPageNote|the note of the slide the editing view shows"
    "getPptNextPageNote|the note of the slide after the one the editing view shows, empty after the last"
    "getPptAlternatePageNote|the Alternate note: the note of the slide before the one the editing view shows, empty before the first"
    "ppt2Pdf|exports every slide, hidden ones too, one PDF page each, and answers the PDF's path")
foreach(entry IN LISTS PC_IMPRESS_SCRIPTS)
    string(FIND "${entry}" "|" bar)
    string(SUBSTRING "${entry}" 0 ${bar} name)
    set(script ${CMAKE_BINARY_DIR}/scripts/${name}.scpt)
    add_custom_command(OUTPUT ${script}
                       COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:pc_impress_client> ${script}
                       DEPENDS pc_impress_client)
    list(APPEND PC_RESOURCE_FILES ${script})
endforeach()

# Keynote does not run on this host: its document scripts fail as finding no such object, and
# isKeynoteOpenOrNot (in resources/Scripts/) answers that nothing is open.
set(PC_KEYNOTE_SCRIPTS
    isKeynotePlayingOrNot playKeynote getKeynoteCurrentSlideNumber getKeynoteTotalSlideCount
    getKeynoteCurrentSlideNote getKeynoteNextSlideNote getKeynoteAlternateSlideNote keynote2Pdf)
foreach(name IN LISTS PC_KEYNOTE_SCRIPTS)
    pc_add_script(noDocument.scpt.in ${name} "")
endforeach()

set(PC_BUNDLE_OUTPUTS)
foreach(flavour IN LISTS PC_FLAVOURS)
    string(REPLACE "|" ";" fields "${flavour}")
    list(GET fields 0 FLAVOUR_NAME)
    list(GET fields 1 FLAVOUR_IDENTIFIER)
    list(GET fields 2 FLAVOUR_DISPLAY_NAME)
    list(GET fields 3 FLAVOUR_DELEGATE)
    list(GET fields 4 FLAVOUR_FIRST_WINDOW)
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
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:pc_main> ${contents}/MacOS/${FLAVOUR_NAME}
        ${copy_resources}
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS pc_main ${PC_RESOURCE_FILES} ${PC_TRANSLATION_FILES}
        COMMENT "Assembling ${FLAVOUR_NAME}.app")
    list(APPEND PC_BUNDLE_OUTPUTS ${stamp})
endforeach()
add_custom_target(bundles ALL DEPENDS ${PC_BUNDLE_OUTPUTS})
