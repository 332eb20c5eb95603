#pragma once

#include "elidinglist.h"

namespace quorrin::downloader {

// The queue list. Qt makes the first row current when the list takes the focus without one,
// unselected: here the focus alone neither shows nor edits an entry, and Delete has nothing
// to act on until a row is visibly selected.
class QueueList : public ElidingList {
    Q_OBJECT
public:
    using ElidingList::ElidingList;

protected:
    void focusInEvent(QFocusEvent *event) override;
};

} // namespace quorrin::downloader
