// Names compared as the device compares them: without regard to case. A host folder on ext4 or
// tmpfs tells names apart by case; these find the entries of a folder that the device would take
// for one name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The name as compared: each character upper-cased by its simple Unicode mapping (the C.UTF-8
// locale's; ASCII only where that locale is missing), bytes that are no UTF-8 kept as they are.
std::wstring CaseKey(std::string_view strName);

// The names of the folder fdFolder (any descriptor of it, O_PATH too) equal to strName without
// regard to case, strName itself included when it is there; false with errno when the folder
// cannot be read. What this thread learnt of the folder is kept while the folder stays unchanged,
// so that asking for one missing name after another does not read the folder each time.
bool NamesEqualNoCase(int fdFolder, const std::string& strName, std::vector<std::string>& found);

// This thread made strName in the folder it searched last: kept as one of its names.
void NoteNameMade(const std::string& strName);
// True when fdFolder is the folder this thread searched last and has been filling, and it holds
// no name equal to strName in any case: the name need not be looked up. False, with nothing
// asked of the file system, for any other folder.
bool KnownAbsent(int fdFolder, const std::string& strName);
// strName was found in the folder searched last after all (made by others meanwhile).
void NoteNameFound(const std::string& strName);
