#pragma once

class AppState;

// The transfer engines of CopyHelpers: as many as cameras.

// One new engine at the end of CopyHelpers.
void AddEngine(AppState &state);

// Takes the last engine out of CopyHelpers. A busy one is kept aside until its transfer has
// ended, so the camera it serves still gets its outcome; idle ones are released at once.
void RemoveLastEngine(AppState &state);

// Releases the engines kept aside that have finished; not while a storage check lets
// events run, since the finishing engine's own report may still be on the stack then.
void ReleaseRetiredEngines(AppState &state);
