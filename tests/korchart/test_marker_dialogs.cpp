// The marker dialogs offscreen: the mode tree and the fields it governs,
// values through Params(), what OK refuses, and the preset library.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <tuple>

#include "KorSpinEdit.h"
#include "Screenshot.h"
#include "TestApp.h"
#include "markers/MarkLinkProperties.h"
#include "markers/MarkProperties.h"
#include "platform/Report.h"

using namespace korchart;

namespace {

template <class T>
T* Find(const QWidget& dialog, const char* name) {
  auto* w = dialog.findChild<T*>(name);
  if (!w) ADD_FAILURE() << "no " << name;
  return w;
}

void Click(const QWidget& dialog, const char* name) { Find<QPushButton>(dialog, name)->click(); }

QTreeWidgetItem* Leaf(QTreeWidget* tree, const char* group, const char* leaf) {
  for (int g = 0; g < tree->topLevelItemCount(); ++g) {
    QTreeWidgetItem* item = tree->topLevelItem(g);
    if (item->text(0) != group) continue;
    if (!leaf) return item;
    for (int i = 0; i < item->childCount(); ++i)
      if (item->child(i)->text(0) == leaf) return item->child(i);
  }
  ADD_FAILURE() << group << " / " << (leaf ? leaf : "");
  return nullptr;
}

const std::vector<TSeriesInfo> kSeries = {{"Прямая", 0xFF0000, "дБ", true}, {"Обратная", 0x0000FF, "дБ", true}};

auto Fields(const SMarkParams& p) {
  return std::make_tuple(p.enabled, p.visible, p.position, static_cast<int>(p.action), p.linkTrace,
                         p.deltaMeasure, p.deltaTrace, p.limitMin, p.limitMax, p.divergence,
                         p.divergenceRight, p.extremeMode, p.tracking, p.parked, p.showStatistics,
                         p.framePos, p.argumentDigits, p.valueDigits, p.shownSeries);
}

}  // namespace

TEST(MarkProperties, ModeTreeSetsTheModeAndTheFieldsItGoverns) {
  TestApp();
  SMarkParams in;
  in.action = EMarkAction::Maximum;
  in.deltaMeasure = true;
  TMarkProperties dialog(nullptr, in, kSeries);
  auto* tree = Find<QTreeWidget>(dialog, "ModeTree");
  ASSERT_EQ(tree->selectedItems().size(), 1);
  EXPECT_EQ(tree->selectedItems()[0], Leaf(tree, "Разность уровней", "Максимум"));
  EXPECT_FALSE(Leaf(tree, "Уровень", nullptr)->flags() & Qt::ItemIsSelectable);
  MaybeScreenshot(&dialog, "mark-properties");

  const struct {
    const char *group, *leaf;
    EMarkAction action;
    bool delta;
  } modes[] = {{"Частота", "Свободное положение", EMarkAction::Free, false},
               {"Уровень", "Минимум", EMarkAction::Minimum, false},
               {"Уровень", "Фиксированный", EMarkAction::Fixed, false},
               {"Разность уровней", "Минимум", EMarkAction::Minimum, true},
               {"Разность уровней", "Фиксированная", EMarkAction::Fixed, true}};
  for (const auto& m : modes) {
    tree->setCurrentItem(Leaf(tree, m.group, m.leaf));
    const SMarkParams p = dialog.Params();
    EXPECT_EQ(p.action, m.action) << m.leaf;
    EXPECT_EQ(p.deltaMeasure, m.delta) << m.group;
    EXPECT_EQ(Find<QComboBox>(dialog, "ComboTrace2")->isHidden(), !m.delta) << m.leaf;
    EXPECT_EQ(Find<TKorSpinEdit>(dialog, "EditDivergence")->isEnabled(), m.action != EMarkAction::Free);
    EXPECT_EQ(Find<QRadioButton>(dialog, "RadioLeft")->isEnabled(),
              m.action == EMarkAction::Minimum || m.action == EMarkAction::Maximum);
  }
  // A group heading is no mode: the mode and its selected leaf stay.
  tree->setCurrentItem(Leaf(tree, "Уровень", nullptr));
  EXPECT_EQ(dialog.Params().action, EMarkAction::Fixed);
  EXPECT_TRUE(dialog.Params().deltaMeasure);
  ASSERT_EQ(tree->selectedItems().size(), 1);
  EXPECT_EQ(tree->selectedItems()[0], Leaf(tree, "Разность уровней", "Фиксированная"));
}

TEST(MarkProperties, ValuesRoundTripAndHiddenFieldsPassThrough) {
  TestApp();
  SMarkParams in;
  in.action = EMarkAction::Fixed;
  in.position = 1234.56789012345678;  // more digits than the edit shows
  in.linkTrace = 2;
  in.deltaTrace = 7;  // not on the chart now: kept, not dropped to "нет"
  in.limitMin = 10;
  in.limitMax = 500;
  in.divergence = -3.25;
  in.divergenceRight = true;
  in.argumentDigits = 4;
  in.valueDigits = 1;
  in.enabled = in.showStatistics = true;
  in.framePos = 42;
  in.tracking = false;
  in.shownSeries[3] = false;
  TMarkProperties dialog(nullptr, in, kSeries);
  EXPECT_EQ(Fields(dialog.Params()), Fields(in));

  auto* trace1 = Find<QComboBox>(dialog, "ComboTrace1");
  ASSERT_EQ(trace1->count(), 3);
  EXPECT_EQ(trace1->itemText(0), "нет");
  EXPECT_EQ(trace1->itemText(2), "Обратная");
  EXPECT_EQ(trace1->itemIcon(1).pixmap(8, 8).toImage().pixelColor(4, 4), QColor(Qt::red));
  EXPECT_EQ(Find<QComboBox>(dialog, "ComboTrace2")->count(), 4);

  Find<TKorSpinEdit>(dialog, "EditFrequency")->setText("2,5");
  Find<TKorSpinEdit>(dialog, "EditDivergence")->setText("-60");
  trace1->setCurrentIndex(0);
  Find<QRadioButton>(dialog, "RadioLeft")->setChecked(true);
  Find<QSpinBox>(dialog, "SpinArgumentDigits")->setValue(9);  // at most 6
  Find<QCheckBox>(dialog, "CheckActive")->click();
  const SMarkParams p = dialog.Params();
  EXPECT_EQ(p.position, 2.5);
  EXPECT_EQ(p.divergence, -60);
  EXPECT_EQ(p.linkTrace, 0);
  EXPECT_FALSE(p.divergenceRight);
  EXPECT_EQ(p.argumentDigits, 6);
  EXPECT_FALSE(p.enabled);
  EXPECT_EQ(p.deltaTrace, 7);
}

TEST(MarkProperties, OkRefusesUnreadableNumbersAndAReversedRange) {
  TestApp();
  vkplatform::ReportCapture cap;
  SMarkParams in;
  in.action = EMarkAction::Minimum;
  TMarkProperties dialog(nullptr, in, kSeries);
  auto* min = Find<TKorSpinEdit>(dialog, "EditLimitMin");
  min->setText("30000");
  Click(dialog, "ButtonOK");
  ASSERT_EQ(cap.Count(), 1u);
  EXPECT_EQ(cap.Reports()[0].text, "Нижняя граница диапазона больше верхней");
  EXPECT_EQ(cap.Reports()[0].icon, vkplatform::MsgIcon::Error);
  min->setText("abc");
  Click(dialog, "ButtonOK");
  EXPECT_EQ(cap.CountText("не является числом"), 1u);
  EXPECT_NE(dialog.result(), QDialog::Accepted);

  // A free marker does not search: its range is not in the way.
  min->setText("30000");
  Find<QTreeWidget>(dialog, "ModeTree")->setCurrentItem(
      Leaf(Find<QTreeWidget>(dialog, "ModeTree"), "Частота", "Свободное положение"));
  Click(dialog, "ButtonOK");
  EXPECT_EQ(cap.Count(), 2u);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// A marker's reading may have a tolerance: a bound that is no number is
// refused; an empty side has no bound.
TEST(MarkProperties, TheReadingsToleranceIsTypedAndChecked) {
  TestApp();
  vkplatform::ReportCapture cap;
  SMarkParams in;
  in.readingLimits = {true, false, true, 0, -3};
  TMarkProperties dialog(nullptr, in, kSeries);
  EXPECT_TRUE(Find<QLineEdit>(dialog, "EditReadingMin")->text().isEmpty());
  EXPECT_EQ(Find<QLineEdit>(dialog, "EditReadingMax")->text(), "-3");
  Find<QLineEdit>(dialog, "EditReadingMin")->setText("x");
  Click(dialog, "ButtonOK");
  EXPECT_EQ(cap.CountText("Допуск значения"), 1u);
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  Find<QLineEdit>(dialog, "EditReadingMin")->setText("-10,5");
  Click(dialog, "ButtonOK");
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Params().readingLimits, (TValueLimits{true, true, true, -10.5, -3}));
}

TEST(MarkLinkProperties, OkChecksTheExpression) {
  TestApp();
  vkplatform::ReportCapture cap;
  SLinkParams in;
  in.markerA = 3;
  in.description = "Расстояние";
  in.expression = std::string(150, 'x');  // longer than may be typed: kept whole
  std::vector<std::string> asked;
  TMarkLinkProperties dialog(nullptr, in, {}, [&](const std::string& e) {
    asked.push_back(e);
    return e != "а.арг+";
  });
  EXPECT_EQ(dialog.Params().expression, in.expression);
  auto* expression = Find<QLineEdit>(dialog, "EditExpression");
  expression->setText("а.арг+");
  Click(dialog, "ButtonOK");
  ASSERT_EQ(cap.Count(), 1u);
  EXPECT_EQ(cap.Reports()[0].text, "Ошибка при синтаксическом разборе выражения");
  EXPECT_EQ(cap.Reports()[0].caption, "Ошибка");
  EXPECT_EQ(cap.Reports()[0].icon, vkplatform::MsgIcon::Error);
  EXPECT_NE(dialog.result(), QDialog::Accepted);

  expression->setText("б.арг*2");
  Click(dialog, "ButtonOK");
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(asked, (std::vector<std::string>{"а.арг+", "б.арг*2"}));
  const SLinkParams p = dialog.Params();
  EXPECT_EQ(p.expression, "б.арг*2");
  EXPECT_EQ(p.description, "Расстояние");
  EXPECT_EQ(p.markerA, 3);
  EXPECT_EQ(cap.Count(), 1u);
  EXPECT_FALSE(p.limits.enabled || p.limits.hasMin || p.limits.hasMax);
}

// The tolerance of a link marker's value: typed with a comma or a point,
// one side may stay empty; bounds out of order are refused, the dialog stays.
TEST(MarkLinkProperties, TheToleranceIsTypedAndChecked) {
  TestApp();
  vkplatform::ReportCapture cap;
  SLinkParams in;
  in.limits = {true, true, false, 95, 0};
  TMarkLinkProperties dialog(nullptr, in, {}, nullptr);
  EXPECT_EQ(Find<QLineEdit>(dialog, "EditLimitMin")->text(), "95");
  EXPECT_TRUE(Find<QLineEdit>(dialog, "EditLimitMax")->text().isEmpty());
  Find<QLineEdit>(dialog, "EditLimitMin")->setText("110");
  Find<QLineEdit>(dialog, "EditLimitMax")->setText("105,5");
  Click(dialog, "ButtonOK");
  ASSERT_EQ(cap.Count(), 1u);
  EXPECT_NE(cap.Reports()[0].text.find("Допуск"), std::string::npos);
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  Find<QLineEdit>(dialog, "EditLimitMin")->setText("94.5");
  Click(dialog, "ButtonOK");
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Params().limits, (TValueLimits{true, true, true, 94.5, 105.5}));
  Find<QCheckBox>(dialog, "CheckLimits")->setChecked(false);
  EXPECT_FALSE(dialog.Params().limits.enabled);
}

TEST(MarkLinkProperties, PresetsAreAddedRemovedAndCopied) {
  TestApp();
  vkplatform::ReportCapture cap;
  std::vector<SRelationPreset> store = {{"Разность", "а.арг-б.арг", "%зн"}};
  bool refuse = false;
  TPresetAccess access{[&] { return store; },
                       [&](const SRelationPreset& p) {
                         if (!refuse) store.push_back(p);
                         return !refuse;
                       },
                       [&](const std::string& d) {
                         auto it = std::find_if(store.begin(), store.end(),
                                                [&](const SRelationPreset& p) { return p.description == d; });
                         if (it == store.end()) return false;
                         store.erase(it);
                         return true;
                       }};
  TMarkLinkProperties dialog(nullptr, SLinkParams(), access, nullptr);
  dialog.show();
  auto* list = Find<QTreeWidget>(dialog, "PresetList");
  auto* remove = Find<QPushButton>(dialog, "ButtonRemove");
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(1), "а.арг-б.арг");
  MaybeScreenshot(&dialog, "mark-link-properties");
  EXPECT_FALSE(remove->isEnabled());  // nothing selected

  Find<QLineEdit>(dialog, "EditName")->setText("Сумма");
  Find<QLineEdit>(dialog, "EditExpression")->setText("а.арг+б.арг");
  Find<QLineEdit>(dialog, "EditPrint")->setText("%ср");
  Click(dialog, "ButtonAdd");
  ASSERT_EQ(store.size(), 2u);
  EXPECT_EQ(store[1].print, "%ср");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->currentItem()->text(0), "Сумма");  // the new entry is selected
  Click(dialog, "ButtonRemove");
  ASSERT_EQ(store.size(), 1u);
  EXPECT_EQ(store[0].description, "Разность");
  EXPECT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(cap.Count(), 0u);

  QTreeWidgetItem* item = list->topLevelItem(0);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  const QPoint at = list->visualItemRect(item).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);  // a double click starts with a click
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(dialog.Params().description, "Разность");
  EXPECT_EQ(dialog.Params().expression, "а.арг-б.арг");
  EXPECT_EQ(dialog.Params().print, "%зн");

  refuse = true;
  Click(dialog, "ButtonAdd");
  EXPECT_EQ(cap.CountText("Не удалось добавить"), 1u);

  TMarkLinkProperties bare(nullptr, SLinkParams(), TPresetAccess{}, nullptr);
  EXPECT_EQ(Find<QTreeWidget>(bare, "PresetList")->topLevelItemCount(), 0);
  EXPECT_FALSE(Find<QPushButton>(bare, "ButtonAdd")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>(bare, "ButtonRemove")->isEnabled());
}

// A search without its series would do nothing: OK refuses "нет" in
// "Канал 1", and in "Канал 2" for a level difference, and says so.
TEST(MarkProperties, OkRefusesASearchWithoutItsSeries) {
  TestApp();
  vkplatform::ReportCapture cap;
  TMarkProperties dialog(nullptr, SMarkParams(), kSeries);
  auto* tree = Find<QTreeWidget>(dialog, "ModeTree");
  tree->setCurrentItem(Leaf(tree, "Уровень", "Максимум"));
  Click(dialog, "ButtonOK");
  ASSERT_EQ(cap.Count(), 1u);
  EXPECT_EQ(cap.Reports()[0].text, "Для поиска выберите трассу в поле «Канал 1»");
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  Find<QComboBox>(dialog, "ComboTrace1")->setCurrentIndex(1);
  tree->setCurrentItem(Leaf(tree, "Разность уровней", "Минимум"));
  Click(dialog, "ButtonOK");
  EXPECT_EQ(cap.CountText("«Канал 2»"), 1u);
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  Find<QComboBox>(dialog, "ComboTrace2")->setCurrentIndex(2);
  Click(dialog, "ButtonOK");
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(cap.Count(), 2u);
  EXPECT_EQ(dialog.Params().linkTrace, 1);
  EXPECT_EQ(dialog.Params().deltaTrace, 2);
}
