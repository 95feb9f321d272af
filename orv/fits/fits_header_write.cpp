// Rendering a header as the text that begins a FITS file.
#include <memory>

#include "orv/fits/fits_header.h"
#include "util/utdate.h"

namespace orv {

std::string FitsHeader::writeHeader(bool withJunk) {
  // A fresh DATE card with the time of writing replaces the one held so far.
  const util::FitsDate now;
  addValueCard(
      std::make_unique<FitsStringCard>("DATE    ", now.toString(), true, "date and time of writing file")
          .release());

  std::string text;
  for (const auto* list : {&mandatoryList, &naxisList, &extensionList, &arrayList, &otherList, &userList})
    text += writeCardsOfList(*list);
  if (withJunk) text += writeCardsOfList(junkList);
  for (const auto* list : {&commentList, &historyList, &blankList}) text += writeCardsOfList(*list);
  text += "END";
  // Blank to the end of the record; END's columns 4-80 are part of this.
  text.append(FitsPhysical_::RECORD_LENGTH - text.size() % FitsPhysical_::RECORD_LENGTH, ' ');
  return text;
}

}  // namespace orv
