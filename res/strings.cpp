#include "res/strings.h"

#include <unordered_map>

#include "ravelo_version.h"

namespace {
// Texts character for character; "\r\n" breaks lines in message boxes.
const std::unordered_map<int, const char*>& table() {
    static const std::unordered_map<int, const char*> strings = {
        {102, "Ravelo Version " RAVELO_VERSION " (Beta)"},
        {105,
         "\xC2\xA7"
         "Attention!!!"
         "\xC2\xA7"
         "\r\n"},
        {124, "Installed DirectShow MPEG-2 Filters:"},
        {200, "This start mark is defined after the last end mark. Create a new mark instead?"},
        {1056, "Progress"},
        {1057, "Cancel"},
        {1058, "Copy edited content into new file"},
        {1059, "Remove cut areas from current file"},
        {2008, "Off"},
        {2009, "Function calls only"},
        {2010, "Important details"},
        {2011, "All details"},
        {2013,
         "This file is marked as read only! It cannot be modified or cut directly. "
         "Demultiplexing with cut-areas is possible, though.\r\nPlease remove the attribute "
         "'read-only' if you want to modify this file directly."},
        {2014, "ATTENTION!"},
        {2015, "File size"},
        {2016, "Resolution"},
        {2017, "Audio Tracks"},
        {2018, "Aspect Ratio"},
        {2019, "File [%s]\r\nin path [%s]\r\nalready exists. Overwrite?"},
        {2020, "Rename file"},
        {2021, "New filename"},
        {2022, "Cut-area"},
        {2024,
         "This operation is irreversible!!!\r\nAll cut-areas will be removed from the source "
         "file\r\nwhich will be shortened!\r\nContinue?"},
        {2025, "The output path specified in the 'settings' window is not found or invalid:\r\n"},
        {4002,
         "There are no MPEG2-DirectShow filters installed on this system!\r\nThese are needed "
         "for certain features of Ravelo!\r\nSuch filters are part of and  installed with "
         "DVD-Player software\r\nlike PowerDVD or WinDVD."},
        {5000,
         "Demultiplexes the recording to seperate video\nand audio files. These can be used as "
         "assets\nin DVD-authoring software."},
        {5001,
         "Re-multiplexing video and audio\ninto one common file. This can\nbe viewed with most "
         "Media Playes."},
        {5002,
         "Edits a recording directly. Cut-areas will be\nommitted and the source file will be "
         "shortened.\nThis action is irreversible!"},
        {5003, "Chose the audio track that will be stored\ninto the MPEG-file together with video"},
        {5004, "Stores the current preview\r\npicture into a bitmap file"},
        {5005, "Defines or moves the\r\nstarting point of a cut-area"},
        {5006, "Defines or moves the\r\nending point of a cut-area"},
        {5007, "Deletes the definition\r\nof the current cut-area"},
        {5008, "Adds a new cut-area definition"},
        {5009, "Copies recording into a new file.\r\nCut-areas will be left out."},
        {5011, "Bitrate"},
        {57344, "Ravelo"},
        {57664, "Displays program information, version number and copyright\nAbout"},
        {61442, "All Files (*.*)"},
        {61697, "Failed to open document."},
    };
    return strings;
}
}  // namespace

std::string LoadResString(int id) {
    auto it = table().find(id);
    return it == table().end() ? std::string() : std::string(it->second);
}
