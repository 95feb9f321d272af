#ifndef ORV_FITS_FITS_HEADER_H
#define ORV_FITS_FITS_HEADER_H

#include <array>
#include <iosfwd>
#include <list>
#include <memory>
#include <string>

#include "orv/fits/fits_card.h"
#include "orv/fits/fits_const.h"
#include "orv/fits/fits_exception.h"
#include "util/region.h"

namespace orv {

// The header of one FITS image (primary or extension): the values that
// describe the data segment and every card, sorted into ten lists by kind so
// that a header is always written back in one canonical order.
//
// The lists own their cards. A card pointer handed to an add...Card
// operation becomes the header's in every case (a refused card is deleted).
// Keywords are exact 8-character strings with their trailing blanks.
class FitsHeader {
 public:
  // An empty header without cards (for writers that start from nothing).
  FitsHeader();
  // Reads the header at the start of the file, or at byte `offset`.
  FitsHeader(const std::string& filename, bool quiet, bool allJunk);
  FitsHeader(const std::string& filename, bool quiet, bool allJunk, long offset);
  // Deep copy of `other` with the given quiet flag; the last flag has no effect.
  FitsHeader(const FitsHeader& other, bool quiet, bool);
  // Deep copy, quiet flag included.
  FitsHeader(const FitsHeader& other);
  FitsHeader(FitsHeader&& other) noexcept;
  FitsHeader& operator=(const FitsHeader& other);
  virtual ~FitsHeader();

  void copy(const FitsHeader& other);

  virtual void describeSelf(std::ostream& os);

  // ---- scalar access
  int getBitpix() const { return bitpix; }
  int getBytpix() const { return bytpix; }
  int getNaxis() const { return naxis; }
  // NAXISi for 1 <= i <= NAXIS.
  int getNaxis(int i) const;
  double getBscale() const { return bscale; }
  double getBzero() const { return bzero; }
  long getDataOffset() const { return dataOffset; }
  long getDataLength() const { return dataLength; }
  // The whole image: dimension d runs from 1 to NAXISd.
  util::Region getFullRegion() const;
  // The file the cards were read from, kept by copies for their messages; empty for a header
  // built in memory.
  const std::string& getSourceFile() const { return sourceFile__; }

  // ---- keyword access
  FitsCard* getValueCard(const std::string& keyword) const;
  double getFloat(const std::string& keyword) const;
  long getInt(const std::string& keyword) const;
  bool getBool(const std::string& keyword) const;
  std::string getString(const std::string& keyword) const;
  bool isFixed(const std::string& keyword) const;
  std::string getComment(const std::string& keyword) const;
  std::string getComment() const;
  std::string getHistory() const;

  // ---- card text
  // Turns one 80-character card image into a new card owned by the caller;
  // null for a commentary card without text.
  FitsCard* parseCard(const std::string& card) const;
  // The comment of the text after a value: blanks only, or "/" and the comment.
  std::string getCardComment(const std::string& rest) const;

  // ---- editing
  void addValueCard(FitsCard* card);
  void addValueCard(const std::string& keyword, double value, std::string comment, bool fixed);
  void addValueCard(const std::string& keyword, float value, std::string comment, bool fixed);
  void addValueCard(const std::string& keyword, int value, std::string comment, bool fixed);
  void addValueCard(const std::string& keyword, long value, std::string comment, bool fixed);
  void addValueCard(const std::string& keyword, bool value, std::string comment, bool fixed);
  void addValueCard(const std::string& keyword, const std::string& value, std::string comment, bool fixed);
  void addValueCard(const std::string& keyword, const char* value, std::string comment, bool fixed);
  void setBscale(double value);
  void setBzero(double value);
  void addCommentCard(FitsCard* card);
  void addCommentCard(const std::string& keyword, const std::string& text);
  void addComment(const std::string& text);
  void addHistory(const std::string& text);
  // Splits text over as many commentary cards as needed, breaking at word ends.
  void parseCommentToCardList(const std::string& keyword, const std::string& text);
  void addJunkCard(FitsCard* card);
  void addJunkCard(const std::string& cardImage);
  void addJunkCard(const std::string& keyword, const std::string& text);
  // 0 when something was removed, -1 when nothing was found.
  int eraseCard(const std::string& keyword);
  // The keyword padded with blanks or cut to 8 characters.
  std::string adjustKeyword(std::string keyword) const;

  // ---- list operations
  void clearCardList(std::list<FitsCard*>& list);
  void copyCardList(std::list<FitsCard*>& dest, const std::list<FitsCard*>& src);
  FitsCard* findCardInList(const std::string& keyword, const std::list<FitsCard*>& list) const;
  int eraseCardFromList(const std::string& keyword, std::list<FitsCard*>& list);
  int eraseCardsFromJunkList(const std::string& keyword);
  std::string writeCardsOfList(const std::list<FitsCard*>& list) const;
  std::string writeCommentsOfList(const std::list<FitsCard*>& list) const;

  // ---- reading (the file constructors call readHeader)
  void readHeader(const std::string& filename, bool allJunk);
  // One 2880-character record: 2880 when it holds no END card, else 0.
  size_t parseRecord(const std::string& record, bool allJunk);
  size_t parseMandatory(const std::string& record);
  size_t parseNaxis(const std::string& record, size_t pos);
  // Validates the NAXISn cards against NAXIS, sets naxisArray and dataLength.
  void checkNaxis();
  // Throws unless the region lies inside the image.
  void testRegion(const util::Region& region) const;

  // ---- writing
  // The header as whole 2880-byte records in canonical card order, with a
  // fresh DATE card (which replaces the header's DATE card).
  std::string writeHeader(bool withJunk);

 protected:
  bool quiet;
  int bitpix;
  int bytpix;
  int naxis;  // -1 while a header being read has no mandatory cards yet
  int* naxisArray;
  bool extend;
  int pcount;
  int gcount;
  double bscale;
  double bzero;
  long dataOffset;
  long dataLength;

  std::list<FitsCard*> mandatoryList;
  std::list<FitsCard*> naxisList;
  std::list<FitsCard*> extensionList;
  std::list<FitsCard*> otherList;
  std::list<FitsCard*> commentList;
  std::list<FitsCard*> historyList;
  std::list<FitsCard*> blankList;
  std::list<FitsCard*> arrayList;
  std::list<FitsCard*> userList;
  std::list<FitsCard*> junkList;

 private:
  std::string sourceFile__;

  // While a header is read from its file: where each keyword stands in the
  // lists that replace cards by keyword and in the junk list, so that every
  // card read is sorted in constant time however many cards the header has.
  class ReadIndex__;
  std::unique_ptr<ReadIndex__> readIndex__;
  void startReadIndex__();
  void stopReadIndex__();
  // Drops the index when a list it covers changes outside its bookkeeping.
  void dropReadIndexFor__(const std::list<FitsCard*>& list);

  // Hands the card to the list at its back (or front). The list takes the
  // pointer only once its node exists, so a failed insertion frees the card.
  void insertCard__(std::list<FitsCard*>& list, std::unique_ptr<FitsCard> card, bool atFront = false);
  // The ten card lists in declaration order.
  std::array<std::list<FitsCard*>*, 10> cardLists__();
  std::array<const std::list<FitsCard*>*, 10> cardLists__() const;
  void copyScalars__(const FitsHeader& other);
  void releaseAll__();
  void warn__(const std::string& text) const;
  // Why a header read from filename stops at the end of the file without END.
  std::string endOfFileMessage__(const std::string& filename, bool recordCut) const;
  FitsCard* parseValueCard__(const std::string& card, const std::string& keyword) const;
  FitsCard* parseStringValue__(const std::string& card, const std::string& keyword, size_t openQuote) const;
};

}  // namespace orv

#endif
