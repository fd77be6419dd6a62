#pragma once

class AppState;
class CopyHelperParent;

// The transfer engines of CopyHelpers: as many as cameras.

// One new engine at the end of CopyHelpers.
void AddEngine(AppState &state);

// Takes one engine out of CopyHelpers for a camera that was removed: the one still serving
// it, kept aside until its transfer has ended so the camera still gets its outcome, else an
// idle one, released at once. The remaining cameras keep as many usable engines as cameras.
void RemoveEngineOf(AppState &state, const CopyHelperParent *removed);

// Releases the engines kept aside that have finished; not while a storage check lets
// events run, since the finishing engine's own report may still be on the stack then.
void ReleaseRetiredEngines(AppState &state);
