// The notices of a client (project news, the client's own alerts, scheduler messages):
// reading and merging get_notices replies, and making their HTML readable as text.
#ifndef VARNIX_NOTICES_H
#define VARNIX_NOTICES_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "item.h"

// Most notices kept per host (the newest), and the longest text kept of any of their
// fields: a client keeps a few dozen, and one that invents them cannot use up memory.
constexpr size_t kMaxNotices = 1000;
constexpr size_t kMaxNoticeText = 16384;

// What one get_notices reply gives.
struct NoticeBatch {
    // The reply held a notice numbered -1: the client's list was reset, and the notices
    // after that one in the reply are its whole new list.
    bool reset = false;
    // Copies of the notices (with a number of 1 or more), oldest first, each number once,
    // only the fields a notice has, their texts cut to kMaxNoticeText; at most the
    // newest kMaxNotices.
    std::vector<std::unique_ptr<Item>> notices;
};

// Reads the "notices" element of a reply (null gives an empty batch).
NoticeBatch readnotices(const Item* notices);

// Adds a batch to the held list (a "notices" element, oldest first): only notices newer
// than the newest held are taken; a reset batch, or `replace` (a new connection, after
// which a restarted client numbers from 1 again), replaces the held list instead.
// Keeps the newest `maxnotices`. True when the list changed.
bool mergenotices(Item& held, NoticeBatch batch, bool replace, size_t maxnotices = kMaxNotices);

// Number of a held notice, and of the newest one of a held list (0 when empty).
int noticeseqno(const Item* notice);
int newestnoticeseqno(const Item& held);

// When a notice reached the client (its arrival time, else its creation time, else 0).
double noticearrival(const Item* notice);

// The client marks texts for translation as _("text"): the text itself.
std::string untranslated(const std::string& text);

// An HTML text as plain text: tags removed (script and style with their content),
// entities and character references decoded, whitespace collapsed; line breaks and
// paragraphs, list items and table rows give line ends, a link its address after its
// text. A text without any tag keeps its own line ends. Lines are separated by '\n';
// there is never more than one blank line in a row, none at either end, and no blank at
// the end of a line. Linear in the input, whatever it holds.
std::string htmltotext(const std::string& html);

#endif
