#include "color/profileChoice.h"

#include <QFileInfo>

namespace halvora {

int renderingIntentOf(int option) {
    return option >= intentPerceptual && option <= intentAbsolute ? option : 0;
}

QString shippedProfilePath(const QString& profileDir, standardSpace space) {
    return profileDir + "/" + standardProfile(space).fileName;
}

namespace {

bool spaceOfIndex(int index, const standardSpace (&spaces)[4], standardSpace& space) {
    if (index < 1 || index > 4) return false;
    space = spaces[index - 1];
    return true;
}

} // namespace

bool workingSpaceOfChoice(int index, standardSpace& space) {
    static const standardSpace spaces[4] = {standardSpace::sRGB, standardSpace::adobeRGB,
                                            standardSpace::wideGamutRGB, standardSpace::proPhotoRGB};
    return spaceOfIndex(index, spaces, space);
}

bool monitorSpaceOfChoice(int index, standardSpace& space) {
    static const standardSpace spaces[4] = {standardSpace::sRGB, standardSpace::adobeRGB,
                                            standardSpace::appleRGB, standardSpace::colorMatchRGB};
    return spaceOfIndex(index, spaces, space);
}

monitorChoice_t chooseMonitorProfile(const colorManagementOptions_t& options, const QString& profileDir) {
    monitorChoice_t choice;
    standardSpace space = standardSpace::sRGB;
    if (options.outputProfile == 0) {
        if (!options.customMonitorProfile.isEmpty() && QFileInfo(options.customMonitorProfile).isFile()) {
            choice.path = options.customMonitorProfile;
            return choice;
        }
        choice.choiceReset = true;
    } else if (!monitorSpaceOfChoice(options.outputProfile, space)) {
        choice.choiceReset = true;
    }
    choice.path = shippedProfilePath(profileDir, choice.choiceReset ? standardSpace::sRGB : space);
    return choice;
}

QString choosePhotoProfile(int inputChoice, const QString& photoProfileCopy, const QString& profileDir) {
    standardSpace space = standardSpace::sRGB;
    if (inputChoice == 0 && !photoProfileCopy.isEmpty() && QFileInfo(photoProfileCopy).isFile())
        return photoProfileCopy;
    if (inputChoice != 0 && !workingSpaceOfChoice(inputChoice, space)) space = standardSpace::sRGB;
    return shippedProfilePath(profileDir, space);
}

} // namespace halvora
