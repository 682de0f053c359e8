#pragma once

#include <QHeaderView>

// The column header of the report lists. Qt sizes header sections for bold text, in case a
// section is drawn highlighted; ours never are (section highlighting stays off), so this header
// measures the font its captions are drawn in. The sizes come out the same where the bold face
// is no taller, and a start no longer loads a second font just to measure the header.
class ReportHeader : public QHeaderView
{
    Q_OBJECT

public:
    explicit ReportHeader(QWidget *parent = nullptr);

protected:
    QSize sectionSizeFromContents(int logicalIndex) const override;
};
