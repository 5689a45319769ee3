// Model A: the 3-inch label printer.
#include "model.h"

namespace setup {

namespace {

const PaperPreset kPapers[] = {
    {u"Custom Size", 0, 0},       {u"80mm x 25.4mm", 80, 254}, {u"80mm x 50.8mm", 80, 508},
    {u"80mm x 76.2mm", 80, 762},  {u"80mm x 101.6mm", 80, 1016},
};

const TestPageLine kEnglishPage[] = {
    {u"Congratulations!", 54},
    {u"If you can read this information, you have correctly installed your ARQUENT QX-470 on Windows CE.", 108},
    {u"The information below describes your printer driver and port settings.", 81},
    {u"Submitted Time :", 27},
    {u"    %s", 27, PageField::Time},
    {u"Printer model : ARQUENT QX-470", 27},
    {u"%s", 27, PageField::Emulation},
    {u"Color support : No", 27},
    {u"Port name(s) : %s", 27, PageField::Port},
    {u"Data format : RAW", 27},
    {u"Driver name : %s", 27, PageField::Driver},
    {u"Driver version : 1.00", 27},
    {u"Environment : Windows CE 5.x over", 81},
    {u"This is the end of the printer test page.", 0},
};

const TestPageLine kKoreanPage[] = {
    {u"이 정보를 읽을 수 있으면, ARQUENT 3-인치 모바일 라벨 프린터를 제대로 설치한 것입니다.", 108},
    {u"아래 정보는 프린터 드라이버와 포트 설정에 대해 설명합니다.", 81},
    {u"제출한 시간 :", 27},
    {u"    %s", 27, PageField::Time},
    {u"프린터 모델 : ARQUENT QX-470", 27},
    {u"%s", 27, PageField::Emulation},
    {u"컬러인쇄 : 불가능", 27},
    {u"포트 이름 : %s", 27, PageField::Port},
    {u"데이터 형식 : RAW", 27},
    {u"드라이버 이름 : %s", 27, PageField::Driver},
    {u"드라이버 버전 : 1.00", 27},
    {u"환경 : Windows CE 5.x 이상", 44},
    {u"프린터 테스트 페이지의 끝입니다.", 0},
};

const SetupModel kModelA{
    u"Printers\\QX-470 Driver",
    u"QX470.dll",
    {u"ARQUENT QX-470 Driver Setup", u"드라이버 설정"},
    {u"QX-470 Printer Driver's Settings", u"QX-470 프린터 드라이버 설정"},
    kPapers,
    576,
    {
        {u"Arial", kEnglishPage, u"%02d:%02d:%02d AM %02d/%02d/%04d", u"%02d:%02d:%02d PM %02d/%02d/%04d", false,
         u"Error Creating DC", u"Error"},
        {u"굴림", kKoreanPage, u"오전 %02d:%02d:%02d %04d-%02d-%02d", u"오후 %02d:%02d:%02d %04d-%02d-%02d", true,
         u"프린터 DC 생성 에러", u"에러"},
    },
};

}  // namespace

const SetupModel& ModelA() { return kModelA; }

}  // namespace setup
