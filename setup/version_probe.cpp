// The banner and date of the port driver on the distribution disk, and the
// questions whether to install it or to remove it.
#include <windows.h>

#include <cstring>

#include "setup_state.h"
#include "version_stamp.h"

char DriverDateText[20];
int HaveDriverDate;

namespace {

const char PortDriverName[] = "HBX52XX.MPD";
const char DefaultBanner[] = "QVR PCI528/PCI525 Driver for Windows 95";

const char QuestionBefore[] = "About to install \n";
const char QuestionAfter[] = ".  \nDo you wish to continue?";
const char RemovalBefore[] = "About to remove \n";
const char NotFoundBefore[] = "Cannot find ";
const char NotFoundAfter[] = ".  Exiting ";

constexpr std::size_t QUESTION_SIZE = 256;
// Room left in a question for the banner and for the path tried: 209 and
// 191 characters. Longer texts are cut so that the rest of the sentence
// still shows.
constexpr int BANNER_ROOM = QUESTION_SIZE - 1 - (sizeof QuestionBefore - 1) -
                            (sizeof QuestionAfter - 1);
constexpr int PATH_ROOM = QUESTION_SIZE - 1 - (sizeof NotFoundBefore - 1) -
                          (sizeof NotFoundAfter - 1) - (sizeof AppTitle - 1) -
                          1;

ByteReader FileBytes(HANDLE file) {
    return [file](unsigned char &byte) {
        DWORD got = 0;
        return ReadFile(file, &byte, 1, &got, NULL) && got == 1;
    };
}

// Appends as much of `tail` to `text` as fits into `size` bytes.
void AppendCut(char *text, std::size_t size, const char *tail) {
    std::size_t length = std::strlen(text);
    if (length + 1 < size) lstrcpynA(text + length, tail, int(size - length));
}

// Cuts `text` to at most `room` characters.
void Cut(char *text, int room) {
    if (lstrlenA(text) > room) text[room] = '\0';
}

void TakeDriverDate(HANDLE file) {
    FILETIME written;
    WORD date = 0;
    WORD time = 0;
    if (!GetFileTime(file, NULL, NULL, &written) ||
        !FileTimeToDosDateTime(&written, &date, &time)) {
        HaveDriverDate = 0;
        return;
    }
    wsprintfA(DriverDateText, "%d-%d-%d", (date >> 5) & 0x0F, date & 0x1F,
              date >> 9);
    HaveDriverDate = 1;
}

}  // namespace

bool FindStampMarker(const ByteReader &read) {
    std::size_t matched = 0;
    unsigned char byte = 0;
    while (read(byte)) {
        // A byte that breaks a partial match is not tried as a new start.
        if (byte == static_cast<unsigned char>(VERSION_STAMP_MARKER[matched])) {
            if (++matched == MARKER_LENGTH) return true;
        } else {
            matched = 0;
        }
    }
    return false;
}

std::size_t ReadStampBanner(const ByteReader &read, char *text,
                            std::size_t size) {
    std::size_t length = 0;
    unsigned char byte = 0;
    while (length + 1 < size && read(byte) && byte != 0) {
        text[length++] = static_cast<char>(byte);
    }
    text[length] = '\0';
    return length;
}

bool ReadVersionStamp(char *text, std::size_t size) {
    if (!ComposePath(text, size, SourceDir, PortDriverName)) {
        // Too long to be opened: show as much of it as fits.
        lstrcpynA(text, SourceDir, int(size));
        AppendCut(text, size, "\\");
        AppendCut(text, size, PortDriverName);
        return false;
    }
    HANDLE file =
        CreateFileA(text, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;

    ByteReader read = FileBytes(file);
    if (FindStampMarker(read)) {
        ReadStampBanner(read, text, size);
    } else {
        lstrcpynA(text, DefaultBanner, int(size));
    }
    TakeDriverDate(file);
    CloseHandle(file);
    return true;
}

bool ConfirmInstall() {
    char question[QUESTION_SIZE];
    if (ReadVersionStamp(MessageText, sizeof MessageText)) {
        Cut(MessageText, BANNER_ROOM);
        wsprintfA(question, "%s%s%s", QuestionBefore, MessageText,
                  QuestionAfter);
        return MessageBoxA(NULL, question, AppTitle,
                           MB_ICONQUESTION | MB_YESNO) == IDYES;
    }
    Cut(MessageText, PATH_ROOM);
    wsprintfA(question, "%s%s%s%s.", NotFoundBefore, MessageText, NotFoundAfter,
              AppTitle);
    MessageBoxA(NULL, question, ErrorCaption, MB_ICONERROR);
    return false;
}

bool ConfirmRemoval() {
    // A removal needs nothing from the disk: without the port driver there
    // the question names the driver plainly.
    if (!ReadVersionStamp(MessageText, sizeof MessageText)) {
        lstrcpynA(MessageText, DefaultBanner, sizeof MessageText);
    }
    Cut(MessageText, BANNER_ROOM);
    char question[QUESTION_SIZE];
    wsprintfA(question, "%s%s%s", RemovalBefore, MessageText, QuestionAfter);
    return MessageBoxA(NULL, question, AppTitle, MB_ICONQUESTION | MB_YESNO) ==
           IDYES;
}
