#include "app/CategoryCheckBoxes.h"

namespace vz {

CategoryCheckBoxes::CategoryCheckBoxes(QCheckBox* chkDados, QCheckBox* chkAudios, QCheckBox* chkMusicas,
                                       QCheckBox* chkGeral)
    : chkDados_(chkDados), chkAudios_(chkAudios), chkMusicas_(chkMusicas), chkGeral_(chkGeral)
{
    // clicked() comes only from the user; changes made by the rules call the rules directly.
    QObject::connect(chkAudios_, &QCheckBox::clicked, chkAudios_, [this] { chkAudiosClick(); });
    QObject::connect(chkMusicas_, &QCheckBox::clicked, chkMusicas_, [this] { chkAudiosClick(); });
    QObject::connect(chkGeral_, &QCheckBox::clicked, chkGeral_, [this] { chkGeralClick(); });
}

void CategoryCheckBoxes::setByRule(QCheckBox* box, bool checked)
{
    if (box->isChecked() == checked)
        return;
    box->setChecked(checked);
    if (box == chkGeral_)
        chkGeralClick();
    else if (box == chkAudios_ || box == chkMusicas_)
        chkAudiosClick();
    // chkDados has no rule.
}

void CategoryCheckBoxes::chkGeralClick()
{
    if (chkGeral_->isChecked()) {
        setByRule(chkDados_, false);
        setByRule(chkAudios_, false);
        setByRule(chkMusicas_, false);
    } else {
        setByRule(chkDados_, true);
    }
}

void CategoryCheckBoxes::chkAudiosClick()
{
    if (chkDados_->isChecked() || chkAudios_->isChecked() || chkMusicas_->isChecked())
        setByRule(chkGeral_, false);
}

}  // namespace vz
