#include "pdf/PdfPageObject.h"

void TIEPDFPageObject::WriteTo(TStream& stream) {
    // Built for the moment of writing, so the layout is the dictionary's own.
    TIEPDFDictionaryObject page;
    page.Add("Type", new TIEPDFNameObject("Page"));
    page.Add("Resources", new TIEPDFRefObject(ResourcesNumber));
    auto* mediaBox = new TIEPDFArrayObject;
    page.Add("MediaBox", mediaBox);
    for (const std::int32_t n : {0, 0, PaperWidth, PaperHeight}) mediaBox->Add(new TIEPDFNumericObject(n));
    page.Add("Contents", new TIEPDFRefObject(ContentsNumber));
    if (ParentNumber != 0) page.Add("Parent", new TIEPDFRefObject(ParentNumber));
    page.WriteTo(stream);
    FilePosition = page.FilePosition;
}
