#include "filters/Form_AddEditContent.h"
#include "filters/Form_AddEditMail.h"
#include "filters/Form_AddEditSubject.h"

TfrmAddEditMail::TfrmAddEditMail(QWidget *parent)
    : FilterEntryDialog({"frmAddEditMail", "Mail", QSize(276, 155), "edEmail", "eMail",
                         "Examples : *@spam.example , john.doe@example.???", 58},
                        parent)
    , edEmail(field())
{
    finishLayout({});
}

TfrmAddEditSubject::TfrmAddEditSubject(QWidget *parent)
    : FilterEntryDialog({"frmAddEditSubject", "Subject", QSize(272, 154), "edWords", "Word",
                         "Examples : *viagra, *v?agra*,*sex*", 59},
                        parent)
    , edWords(field())
{
    finishLayout({});
}

TfrmAddEditContent::TfrmAddEditContent(QWidget *parent)
    : FilterEntryDialog(
        {"frmAddEditContent", "Content", QSize(272, 91), "edWords", "Word", nullptr, 0}, parent)
    , edWords(field())
{
    finishLayout({});
}
