#pragma once
// The editor's chain of key pictures. The views show one pair of neighbours,
// keys `pair` and `pair + 1`, as the start and end images with their meshes;
// the other keys wait in EditorState::hidden. Key k has one mesh, shared by
// the two segments it belongs to: shown as the end image, it is the end mesh
// of segment k - 1; shown as the start image, the start mesh of segment k.
// Every operation here is a change of an EditorState, so undo, the session
// and projects see the whole chain.
#include <memory>
#include <vector>

#include "core/EditHistory.h"

namespace tarnel {

// The keys a chain may hold in the editor (as many as a project may name).
inline constexpr int kMaxEditorKeys = 64;

struct ChainKey {
    std::shared_ptr<const SourceState> source;
    MeshGrid mesh;
};

int KeyCount(const EditorState& state);
// Every key of the chain in order.
std::vector<ChainKey> ChainKeys(const EditorState& state);
// `state` holding `keys` (two or more) with keys pair and pair + 1 in the
// views; the pair is brought into 0..keys - 2.
void SetChainKeys(EditorState& state, std::vector<ChainKey> keys, int pair);

// The views show keys pair and pair + 1. False (nothing changed) for a pair
// that does not exist or is the one shown.
bool SelectPair(EditorState& state, int pair);
// Appends a key; the views show it with the key before it. False when the
// chain is full.
bool AppendKey(EditorState& state, ChainKey key);
// Removes key k; the views show the pair that took its place. False with two
// keys or for a key that does not exist.
bool RemoveKey(EditorState& state, int k);
// Swaps key k with its neighbour (direction -1 or +1); the views then show a
// pair holding the key where it went. False where there is no neighbour.
bool MoveKey(EditorState& state, int k, int direction);
// The pair to show for key k: the key and the one after it, or the one
// before it for the last key.
int PairForKey(int keyCount, int k);

}  // namespace tarnel
