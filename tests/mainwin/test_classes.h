// The test classes of the main window.
#pragma once

#include <QObject>

// The options panel: the plain rules, and the same rules on real check boxes.
class OptionsTest : public QObject {
  Q_OBJECT
 private slots:
  void startState();
  void panelOffTakesNoClick();
  void everyClickFromEveryReachableState();
  void typeCycleAndFrame();
  void targetAndSourceRules();
  void busyFlagStopsHandlers();
  void copyButtonOnAndOff();
  void realCheckBoxesFollowTheRules();
};

// The main window on disks written by the builder.
class FormLTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void startUp();
  void fileListsMatchPatterns();
  void clickImage();
  void clickOddImages();
  void enterAndLeaveCatalogues();
  void levelTenAndRememberedRow();
  void buttonAndPanelFollowTheRow();
  void copyEveryForm();
  void copyNamesAndFolders();
  void copyErrors();
  void writeFailures();
  void pathShortening();
  void copyListFollowsTarget();
  void folderChangeAndUnreadable();
  void previewTextAndDump();
  void viewCopy();
  void helpButton();
  void imageChangesAfterListing();
  void cpmAndBlankDisks();
};
