#pragma once
// Without a journal nothing says how far a switch came: any user may remove
// the journal, and a disk error may make it unreadable, at any point of the
// switch. Old copies (<target>.UpDate-old) then lie beside targets that may
// hold the old file or the new one. The installation's own check decides,
// over the set as it stands and over the set with the old copies back: an
// old copy goes back only where the set as it stands fails the check and
// the set with the old copies back passes it, and goes only where its target
// is known to hold this build's new file. Anything else stays as it is, for
// a later switch to remove before it sets that target aside.

enum class OldCopyFate {
  None,     // the target has no old copy
  PutBack,  // moved back over its target, or into its place when it is missing
  Remove,   // its target holds this build's new file
  Stay,     // nothing tells which of the two files is the right one
};

// What the installation's check said, found once for every target.
struct OldCopySurvey {
  int module;             // the fingerprint module's index among the targets; -1 when it is none
  int executable;         // the game executable's, likewise
  bool passesAsItStands;  // the check passes over the targets as they are
  bool putAllBack;        // it fails over them, and passes with the old copies of the two back
};
OldCopySurvey SurveyOldCopies();

OldCopyFate FateOfOldCopy(int index, const OldCopySurvey& survey);
