#include "install/switch/old_copy_fate.h"

#include "base/ascii_case.h"
#include "fingerprint/fingerprint_format.h"
#include "fingerprint/verification.h"
#include "install/targets/switch_targets.h"

namespace {

bool Exists(const char* path) { return PlatformQueryPath(path) == PathKind::File; }

bool Has(int index, Beside which) {
  char path[kPathSize];
  return FormSwitchPath(SwitchTargetEntry(index), which, path) && Exists(path);
}

int TargetIndexOf(const char* entry) {
  for (int i = 0; i < SwitchTargetCount(true); ++i) {
    if (SameIgnoringAsciiCase(SwitchTargetEntry(i), entry)) return i;
  }
  return -1;
}

// The installation's own check over the module and the game executable,
// each read from its target or from its old copy.
bool Passes(const OldCopySurvey& survey, bool moduleFromOld, bool executableFromOld) {
  char module[kPathSize];
  char executable[kPathSize];
  return FormSwitchPath(SwitchTargetEntry(survey.module), moduleFromOld ? Beside::OldFile : Beside::Target, module) &&
         FormSwitchPath(SwitchTargetEntry(survey.executable), executableFromOld ? Beside::OldFile : Beside::Target,
                        executable) &&
         VerifyGameFiles(module, executable) == GameFileCheck::Intact;
}

// The set passes the check with this target's file in it and fails with its
// old copy in its place: the target holds the new file the check was made
// for, which is this build's.
bool NewByTheCheck(int index, const OldCopySurvey& survey) {
  if (!survey.passesAsItStands || (index != survey.module && index != survey.executable)) return false;
  return !Passes(survey, index == survey.module, index == survey.executable);
}

// The ways of knowing that a target holds this build's new file; a build
// that records each new file's own hash adds a test of it here.
using NewFileTest = bool (*)(int index, const OldCopySurvey& survey);
const NewFileTest kNewFileTests[] = {NewByTheCheck};

bool KnownNewFile(int index, const OldCopySurvey& survey) {
  for (NewFileTest known : kNewFileTests) {
    if (known(index, survey)) return true;
  }
  return false;
}

}  // namespace

OldCopySurvey SurveyOldCopies() {
  OldCopySurvey survey{TargetIndexOf(kFingerprintModulePath), -1, false, false};
  char executableName[kPathSize];
  if (FormExecutableName(executableName)) survey.executable = TargetIndexOf(executableName);
  if (survey.module < 0 || survey.executable < 0) return survey;
  const bool moduleOld = Has(survey.module, Beside::OldFile);
  const bool executableOld = Has(survey.executable, Beside::OldFile);
  // Without an old copy of either, the check has no second set to compare:
  // both files are read once, by the verification that follows.
  if (!moduleOld && !executableOld) return survey;
  survey.passesAsItStands = Passes(survey, false, false);
  survey.putAllBack = !survey.passesAsItStands && Passes(survey, moduleOld, executableOld);
  return survey;
}

OldCopyFate FateOfOldCopy(int index, const OldCopySurvey& survey) {
  if (!Has(index, Beside::OldFile)) return OldCopyFate::None;
  if (survey.putAllBack) return OldCopyFate::PutBack;
  if (KnownNewFile(index, survey)) return OldCopyFate::Remove;
  // Into an empty place an old copy overwrites nothing: a file the check
  // does not read comes back rather than be lost with its target.
  if (!Has(index, Beside::Target)) return OldCopyFate::PutBack;
  return OldCopyFate::Stay;
}
