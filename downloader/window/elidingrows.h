#pragma once

#include <QModelIndex>

class QListView;
class QStyleOptionViewItem;

namespace quorrin::downloader {

// What the window's lists share: one-line rows exactly as wide as the list, a text too long
// for its row elided in the middle, the whole text as the row's accessible name and, while
// elided, its tooltip; icons as tall as the text; never a sideways scroll.
void setUpElidingRows(QListView *list);
// Whether the row at `index`, laid out with `option`, shows its text elided.
bool showsElided(const QListView *list, QStyleOptionViewItem option, const QModelIndex &index);
// After a change of font: icons as tall as the new text.
void fitIconsToText(QListView *list);

} // namespace quorrin::downloader
