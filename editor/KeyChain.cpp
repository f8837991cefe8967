#include "editor/KeyChain.h"

#include <algorithm>
#include <utility>

namespace tarnel {

int KeyCount(const EditorState& state) { return 2 + int(state.hidden.size()); }

std::vector<ChainKey> ChainKeys(const EditorState& state) {
    std::vector<ChainKey> keys;
    keys.reserve(size_t(KeyCount(state)));
    const size_t pair = size_t(std::clamp(state.pair, 0, int(state.hidden.size())));
    for (size_t k = 0; k < pair; ++k) keys.push_back(ChainKey{state.hidden[k].source, state.hidden[k].mesh});
    keys.push_back(ChainKey{state.sources[0], state.start});
    keys.push_back(ChainKey{state.sources[1], state.end});
    for (size_t k = pair; k < state.hidden.size(); ++k)
        keys.push_back(ChainKey{state.hidden[k].source, state.hidden[k].mesh});
    return keys;
}

void SetChainKeys(EditorState& state, std::vector<ChainKey> keys, int pair) {
    if (keys.size() < 2) return;
    pair = std::clamp(pair, 0, int(keys.size()) - 2);
    state.hidden.clear();
    for (int k = 0; k < int(keys.size()); ++k) {
        ChainKey& key = keys[size_t(k)];
        if (k == pair) {
            state.sources[0] = std::move(key.source);
            state.start = std::move(key.mesh);
        } else if (k == pair + 1) {
            state.sources[1] = std::move(key.source);
            state.end = std::move(key.mesh);
        } else {
            state.hidden.push_back(HiddenKey{std::move(key.source), std::move(key.mesh)});
        }
    }
    state.pair = pair;
}

bool SelectPair(EditorState& state, int pair) {
    if (pair < 0 || pair > KeyCount(state) - 2 || pair == state.pair) return false;
    SetChainKeys(state, ChainKeys(state), pair);
    return true;
}

bool AppendKey(EditorState& state, ChainKey key) {
    if (KeyCount(state) >= kMaxEditorKeys) return false;
    std::vector<ChainKey> keys = ChainKeys(state);
    keys.push_back(std::move(key));
    const int pair = int(keys.size()) - 2;
    SetChainKeys(state, std::move(keys), pair);
    return true;
}

bool RemoveKey(EditorState& state, int k) {
    const int count = KeyCount(state);
    if (count <= 2 || k < 0 || k >= count) return false;
    std::vector<ChainKey> keys = ChainKeys(state);
    keys.erase(keys.begin() + k);
    SetChainKeys(state, std::move(keys), PairForKey(count - 1, std::min(k, count - 2)));
    return true;
}

bool MoveKey(EditorState& state, int k, int direction) {
    const int count = KeyCount(state);
    const int to = k + (direction < 0 ? -1 : 1);
    if (k < 0 || k >= count || to < 0 || to >= count) return false;
    std::vector<ChainKey> keys = ChainKeys(state);
    std::swap(keys[size_t(k)], keys[size_t(to)]);
    SetChainKeys(state, std::move(keys), PairForKey(count, to));
    return true;
}

int PairForKey(int keyCount, int k) { return std::clamp(k, 0, std::max(0, keyCount - 2)); }

}  // namespace tarnel
