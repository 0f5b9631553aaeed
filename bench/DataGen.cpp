#include "DataGen.h"
#include "data/Fields.h"

#include "data/TableFile.h"
#include "data/uDM.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#ifndef QARDEL_BENCH_DEFAULT_DIR
#define QARDEL_BENCH_DEFAULT_DIR "bench-data"
#endif

namespace qardel::bench {

// ---------------------------------------------------------------- random

namespace {
uint64_t splitmix(uint64_t& x) {
    uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}
uint64_t rotl(uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}
} // namespace

Rng::Rng(uint64_t seed) {
    for (auto& w : s)
        w = splitmix(seed);
}

uint64_t Rng::next() {
    const uint64_t result = rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
}

uint32_t Rng::below(uint32_t n) {
    // Lemire's multiply-shift; the tiny bias does not matter here
    return uint32_t((uint64_t(uint32_t(next() >> 32)) * n) >> 32);
}

double Rng::unit() {
    return double(next() >> 11) * (1.0 / 9007199254740992.0);
}

namespace {

// ---------------------------------------------------------------- reference data

QStringList split(const char* text) {
    return QString::fromUtf8(text).split(QLatin1Char('|'), Qt::SkipEmptyParts);
}

// A part of the world as its call signs show it: prefixes ('#' is a digit
// from digits), suffix length, and whether its operators name their towns in
// Russian-style names (the former USSR) or in the foreign list.
struct Area {
    const char* country;
    int weight;
    const char* prefixes; // space separated
    const char* digits;
    int sufMin, sufMax;
    bool foreign;
};

const Area kAreas[] = {
    {"Европейская Россия", 340,
     "UA# RA# RV# RW# RX# RZ# RN# RK# RU# R# UB# UC# UD# UE# UF# UG# UI# RM# RO# RT#", "1234567", 1,
     3, false},
    {"Азиатская Россия", 100,
     "UA# RA# RV# RW# RX# RZ# RN# RK# RU# R# UB# UC# UD# UE# UF# UG# UI# RM# RO# RT#", "890", 1, 3,
     false},
    {"Калининград", 8, "UA2F RA2F RK2F UB2F RW2F", "", 1, 2, false},
    {"Украина", 80, "UR# UT# UX# US# UY# UZ# EM# EO#", "0123456789", 2, 3, false},
    {"Беларусь", 40, "EU# EW# EV#", "1234678", 2, 3, false},
    {"Казахстан", 20, "UN# UP#", "0123456789", 2, 3, false},
    {"Молдова", 6, "ER#", "13", 2, 3, false},
    {"Грузия", 5, "4L#", "0123456789", 2, 3, false},
    {"Армения", 5, "EK#", "6", 2, 3, false},
    {"Азербайджан", 5, "4K#", "6789", 2, 3, false},
    {"Узбекистан", 6, "UK#", "0123456789", 2, 3, false},
    {"Киргизия", 3, "EX#", "0128", 2, 3, false},
    {"Таджикистан", 2, "EY#", "78", 2, 3, false},
    {"Туркменистан", 1, "EZ#", "8", 2, 3, false},
    {"Литва", 8, "LY#", "1234", 2, 3, false},
    {"Латвия", 8, "YL#", "23", 2, 3, false},
    {"Эстония", 8, "ES#", "1234567", 1, 3, false},
    {"Германия", 60, "DL# DK# DJ# DO# DG# DH# DF# DM# DB# DC#", "0123456789", 2, 3, true},
    {"Польша", 30, "SP# SQ# SO# SN#", "0123456789", 2, 3, true},
    {"Чехия", 20, "OK# OL#", "12", 2, 3, true},
    {"Словакия", 6, "OM#", "0123456789", 2, 3, true},
    {"США", 50, "K# W# N# AA# AB# AC# AD# KA# KB# KC# KD# KE# KF# WA# WB# WD# NA#", "0123456789", 2,
     3, true},
    {"Канада", 8, "VE# VA#", "123456789", 2, 3, true},
    {"Япония", 30, "JA# JH# JR# JE# JF# JG# JI# JJ# JK# JL#", "0123456789", 3, 3, true},
    {"Италия", 20, "I# IK# IZ# IW# IU#", "0123456789", 2, 3, true},
    {"Франция", 12, "F# F4# F5# F6#", "", 2, 3, true},
    {"Испания", 12, "EA# EB# EC#", "123456789", 2, 3, true},
    {"Англия", 12, "G# M# 2E#", "0134567", 2, 3, true},
    {"Шотландия", 3, "GM#", "034", 2, 3, true},
    {"Финляндия", 12, "OH#", "0123456789", 2, 3, true},
    {"Швеция", 10, "SM# SA# SE#", "0123457", 2, 3, true},
    {"Норвегия", 6, "LA# LB#", "123456789", 2, 3, true},
    {"Дания", 6, "OZ#", "0123456789", 2, 3, true},
    {"Нидерланды", 8, "PA# PD# PE#", "0123456789", 2, 3, true},
    {"Бельгия", 6, "ON#", "4567", 2, 3, true},
    {"Австрия", 6, "OE#", "123456789", 2, 3, true},
    {"Швейцария", 5, "HB9", "", 2, 3, true},
    {"Болгария", 10, "LZ#", "12345", 2, 3, true},
    {"Румыния", 8, "YO#", "0123456789", 2, 3, true},
    {"Венгрия", 8, "HA# HG#", "0123456789", 2, 3, true},
    {"Сербия", 6, "YU#", "1234567", 2, 3, true},
    {"Хорватия", 5, "9A#", "123456", 2, 3, true},
    {"Словения", 4, "S5#", "0123456789", 2, 3, true},
    {"Греция", 4, "SV#", "123456789", 2, 3, true},
    {"Турция", 3, "TA#", "0123456789", 2, 3, true},
    {"Израиль", 4, "4X# 4Z#", "0123456789", 2, 3, true},
    {"Португалия", 3, "CT#", "1237", 2, 3, true},
    {"Ирландия", 2, "EI#", "0123456789", 2, 3, true},
    {"Монголия", 2, "JT#", "1", 2, 3, true},
    {"Китай", 4, "BY# BG# BA#", "0123456789", 2, 3, true},
    {"Бразилия", 4, "PY# PU#", "0123456789", 2, 3, true},
    {"Аргентина", 3, "LU#", "0123456789", 2, 3, true},
    {"Австралия", 4, "VK#", "0123456789", 2, 3, true},
    {"Новая Зеландия", 2, "ZL#", "1234", 2, 3, true},
    {"ЮАР", 2, "ZS#", "123456", 2, 3, true},
    {"Индия", 2, "VU#", "23", 2, 3, true},
};

const char* kCountries =
    "Австралия|Австрия|Азербайджан|Албания|Алжир|Ангола|Андорра|Антигуа и Барбуда|Аргентина|"
    "Армения|Афганистан|Багамы|Бангладеш|Барбадос|Бахрейн|Беларусь|Белиз|Бельгия|Бенин|Болгария|"
    "Боливия|Босния и Герцеговина|Ботсвана|Бразилия|Бруней|Буркина-Фасо|Бурунди|Бутан|Вануату|"
    "Ватикан|Англия|Венгрия|Венесуэла|Вьетнам|Габон|Гаити|Гайана|Гамбия|Гана|Гватемала|Гвинея|"
    "Гвинея-Бисау|Германия|Гондурас|Гренада|Греция|Грузия|Дания|Джибути|Доминика|"
    "Доминиканская Республика|Египет|Замбия|Зимбабве|Израиль|Индия|Индонезия|Иордания|Ирак|Иран|"
    "Ирландия|Исландия|Испания|Италия|Йемен|Кабо-Верде|Казахстан|Камбоджа|Камерун|Канада|Катар|"
    "Кения|Кипр|Киргизия|Кирибати|Китай|Колумбия|Коморы|Конго|Корея|Коста-Рика|Кот-д'Ивуар|Куба|"
    "Кувейт|Лаос|Латвия|Лесото|Либерия|Ливан|Ливия|Литва|Лихтенштейн|Люксембург|Маврикий|"
    "Мавритания|Мадагаскар|Малави|Малайзия|Мали|Мальдивы|Мальта|Марокко|Маршалловы Острова|"
    "Мексика|Микронезия|Мозамбик|Молдова|Монако|Монголия|Мьянма|Намибия|Науру|Непал|Нигер|"
    "Нигерия|Нидерланды|Никарагуа|Новая Зеландия|Норвегия|ОАЭ|Оман|Пакистан|Палау|Панама|"
    "Папуа — Новая Гвинея|Парагвай|Перу|Польша|Португалия|Руанда|Румыния|Сальвадор|Самоа|"
    "Сан-Марино|Сан-Томе и Принсипи|Саудовская Аравия|Северная Македония|Сейшельские Острова|"
    "Сенегал|Сент-Винсент и Гренадины|Сент-Китс и Невис|Сент-Люсия|Сербия|Сингапур|Сирия|"
    "Словакия|Словения|Соломоновы Острова|Сомали|Судан|Суринам|США|Сьерра-Леоне|Таджикистан|"
    "Таиланд|Танзания|Того|Тонга|Тринидад и Тобаго|Тувалу|Тунис|Туркменистан|Турция|Уганда|"
    "Узбекистан|Украина|Уругвай|Фиджи|Филиппины|Финляндия|Франция|Хорватия|ЦАР|Чад|Черногория|"
    "Чехия|Чили|Швейцария|Швеция|Шотландия|Уэльс|Северная Ирландия|Шри-Ланка|Эквадор|"
    "Экваториальная Гвинея|Эритрея|Эсватини|Эстония|Эфиопия|ЮАР|Ямайка|Япония|Европейская Россия|"
    "Азиатская Россия|Калининград|Азорские о-ва|Канарские о-ва|Гренландия|Фарерские о-ва|Аляска|"
    "Гавайи|Антарктида|Земля Франца-Иосифа|Шпицберген|Корсика|Сардиния|Сицилия|"
    "Балеарские о-ва|Мадейра|Крит|Гибралтар";

const char* kNames =
    // full names
    "Александр|Алексей|Анатолий|Андрей|Антон|Аркадий|Арсений|Артём|Борис|Вадим|Валентин|Валерий|"
    "Василий|Виктор|Виталий|Владимир|Владислав|Вячеслав|Геннадий|Георгий|Герман|Глеб|Григорий|"
    "Даниил|Денис|Дмитрий|Евгений|Егор|Иван|Игорь|Илья|Кирилл|Константин|Леонид|Максим|Марк|"
    "Матвей|Михаил|Никита|Николай|Олег|Павел|Пётр|Роман|Руслан|Сергей|Станислав|Степан|Тимофей|"
    "Тимур|Фёдор|Эдуард|Юрий|Ярослав|Альберт|Богдан|Вениамин|Всеволод|Гавриил|Давид|Емельян|"
    "Ефим|Захар|Зиновий|Игнат|Иннокентий|Лев|Макар|Мирон|Назар|Нестор|Остап|Платон|Прохор|"
    "Ростислав|Савелий|Семён|Тарас|Трофим|Филипп|Харитон|Эрик|Юлиан|Яков|Афанасий|Всеслав|"
    "Любомир|Мстислав|Святослав|Родион|Елисей|Лаврентий|Демьян|Климент|Кузьма|Никифор|Потап|"
    "Фома|Данила|Добрыня|Анна|Алёна|Алла|Анастасия|Валентина|Валерия|Вера|Виктория|Галина|"
    "Дарья|Евгения|Екатерина|Елена|Жанна|Зоя|Ирина|Карина|Кристина|Ксения|Лариса|Лидия|Любовь|"
    "Людмила|Маргарита|Марина|Мария|Надежда|Наталья|Нина|Оксана|Ольга|Полина|Раиса|Светлана|"
    "София|Тамара|Татьяна|Ульяна|Юлия|Яна|"
    // what operators call each other on the air
    "Саша|Лёша|Толя|Андрюша|Боря|Валера|Вася|Витя|Володя|Слава|Гена|Гоша|Гриша|Даня|Дима|Женя|"
    "Ваня|Илюша|Костя|Лёня|Миша|Коля|Паша|Петя|Рома|Серёжа|Стас|Стёпа|Федя|Юра|Вова|Макс|"
    "Олежка|Серёга|Толик|Тёма|Кирюша|Ося|Сеня|Яша|Лена|Таня|Наташа|Оля|Света|Галя|Люда|Ира|"
    // foreign operators, as a Russian operator writes them down
    "Джон|Майкл|Ханс|Клаус|Питер|Томас|Марио|Пьер|Хосе|Юкио|Такаши|Янек|Збигнев|Иржи|Пекка|"
    "Ларс|Свен|Франц|Джузеппе|Антонио|Хуан|Карлос|Вольфганг|Гюнтер|Дитер|Юрген|Ульрих|Курт|"
    "Стефан|Мартин|Роберт|Ричард|Дэвид|Джеймс|Уильям|Кен|Боб|Билл|Джим|Том|Фрэнк|Карл|Эрих|"
    "Андреас|Маркус|Хироши|Кадзуо|Ян|Мирослав|Ласло|Богуслав|Анджей|Войцех|Томаш|Мариуш";

const char* kRussianCities =
    "Москва|Санкт-Петербург|Новосибирск|Екатеринбург|Казань|Нижний Новгород|Челябинск|Самара|"
    "Омск|Ростов-на-Дону|Уфа|Красноярск|Воронеж|Пермь|Волгоград|Краснодар|Саратов|Тюмень|"
    "Тольятти|Ижевск|Барнаул|Ульяновск|Иркутск|Хабаровск|Ярославль|Владивосток|Махачкала|Томск|"
    "Оренбург|Кемерово|Новокузнецк|Рязань|Астрахань|Набережные Челны|Пенза|Киров|Липецк|"
    "Чебоксары|Балашиха|Калининград|Тула|Курск|Ставрополь|Улан-Удэ|Тверь|Магнитогорск|Сочи|"
    "Иваново|Брянск|Белгород|Сургут|Владимир|Чита|Архангельск|Нижний Тагил|Калуга|Смоленск|"
    "Волжский|Курган|Череповец|Орёл|Владикавказ|Мурманск|Вологда|Саранск|Тамбов|Якутск|Грозный|"
    "Стерлитамак|Кострома|Петрозаводск|Нижневартовск|Йошкар-Ола|Новороссийск|Таганрог|"
    "Сыктывкар|Нальчик|Шахты|Дзержинск|Орск|Братск|Благовещенск|Энгельс|Ангарск|"
    "Великий Новгород|Старый Оскол|Псков|Бийск|Прокопьевск|Рыбинск|Балаково|Армавир|"
    "Северодвинск|Абакан|Петропавловск-Камчатский|Норильск|Сызрань|Волгодонск|"
    "Каменск-Уральский|Новочеркасск|Златоуст|Уссурийск|Электросталь|Салават|Находка|"
    "Альметьевск|Миасс|Копейск|Пятигорск|Рубцовск|Березники|Коломна|Майкоп|Хасавюрт|Одинцово|"
    "Ковров|Кисловодск|Нефтекамск|Нефтеюганск|Новочебоксарск|Серпухов|Щёлково|Дербент|"
    "Новомосковск|Черкесск|Первоуральск|Орехово-Зуево|Назрань|Кызыл|Обнинск|Невинномысск|"
    "Димитровград|Октябрьский|Ессентуки|Камышин|Муром|Новошахтинск|Северск|Жуковский|Ноябрьск|"
    "Новый Уренгой|Киев|Харьков|Одесса|Днепр|Львов|Запорожье|Минск|Гомель|Могилёв|Витебск|"
    "Гродно|Брест|Алматы|Астана|Караганда|Шымкент|Кишинёв|Тбилиси|Ереван|Баку|Ташкент|Бишкек|"
    "Вильнюс|Рига|Таллин|Душанбе|Ашхабад";

const char* kForeignCities =
    "Берлин|Гамбург|Мюнхен|Кёльн|Франкфурт|Штутгарт|Дрезден|Лейпциг|Варшава|Краков|Лодзь|"
    "Вроцлав|Гданьск|Прага|Брно|Острава|Братислава|Вена|Грац|Цюрих|Женева|Берн|Рим|Милан|"
    "Неаполь|Турин|Болонья|Флоренция|Париж|Лион|Марсель|Тулуза|Мадрид|Барселона|Валенсия|"
    "Севилья|Лиссабон|Порту|Лондон|Бирмингем|Манчестер|Ливерпуль|Эдинбург|Глазго|Дублин|"
    "Хельсинки|Тампере|Турку|Стокгольм|Гётеборг|Осло|Берген|Копенгаген|Амстердам|Роттердам|"
    "Гаага|Брюссель|Антверпен|София|Пловдив|Бухарест|Клуж-Напока|Будапешт|Дебрецен|Белград|"
    "Нови-Сад|Загреб|Сплит|Любляна|Афины|Салоники|Стамбул|Анкара|Тель-Авив|Хайфа|Иерусалим|"
    "Нью-Йорк|Чикаго|Лос-Анджелес|Хьюстон|Даллас|Денвер|Сиэтл|Бостон|Майами|Атланта|Финикс|"
    "Торонто|Монреаль|Ванкувер|Токио|Осака|Нагоя|Саппоро|Фукуока|Пекин|Шанхай|Улан-Батор|"
    "Сан-Паулу|Рио-де-Жанейро|Буэнос-Айрес|Сидней|Мельбурн|Окленд|Кейптаун|Йоханнесбург|Мумбаи|"
    "Дели";

// Parts of the small towns and villages nobody has heard of, which make up
// most of a real list.
const char* kTownPrefixes = "Ново|Старо|Красно|Бело|Черно|Верхне|Нижне|Средне|Больше|Мало|Северо|"
                            "Южно|Горно|Лесо|Сосново|Берёзово|Липово|Каменно|Озёрно|Заречно|Дубово";
const char* kTownRoots =
    "камен|озер|берез|сосн|лип|дуб|гор|бор|луг|реч|ключ|яр|холм|мост|звенигор|слав|влад|мир|свет|"
    "крас|зар|ясн|тих|глух|бобр|волч|медвед|лос|собол|орл|сокол|журавл|лебед|ворон|гусев|рыбн|"
    "солн|снеж|кедр|ольх|рябин|черемух|калин|малин|вишн|яблон|груш|осин|петр|иван|никол|"
    "михайл|дмитр|степан|григор|знамен|покров|троиц|вознесен|преображен";
const char* kTownEndings = "ск|овск|ово|ино|овка|ка|ец|ое|град|поль|ское|ицы|ищево|ань";

const char* kModes = "SSB|CW|FM|AM|RTTY|PSK31|FT8|SSTV";

struct BandDef {
    const char* name;
    double begin, end, power;
    const char* mode;
    int weight;
};
const BandDef kBands[] = {
    {"160 м", 1.81, 2.0, 100, "CW", 5},    {"80 м", 3.5, 3.8, 100, "SSB", 18},
    {"40 м", 7.0, 7.2, 100, "SSB", 24},    {"30 м", 10.1, 10.15, 50, "CW", 5},
    {"20 м", 14.0, 14.35, 100, "SSB", 22}, {"17 м", 18.068, 18.168, 100, "SSB", 4},
    {"15 м", 21.0, 21.45, 100, "SSB", 7},  {"12 м", 24.89, 24.99, 100, "SSB", 2},
    {"10 м", 28.0, 29.7, 100, "SSB", 6},   {"6 м", 50.0, 54.0, 50, "SSB", 1},
    {"2 м", 144.0, 146.0, 25, "FM", 5},    {"70 см", 430.0, 440.0, 10, "FM", 1},
};
constexpr int kBandCount = int(sizeof(kBands) / sizeof(kBands[0]));

const char* kReportsPhone = "59|58|57|56|55|54|53|52|5/9|5/7";
const char* kReportsCw = "599|589|579|569|559|549|539|449";
const char* kReportsDigital = "+10|+03|-05|-12|-15|-20";

const char* kNoticePhrases =
    "QSL via бюро|QSL direct|QSL via LoTW|QSL via eQSL|QSL получена|QSL отправлена|Контест RDA|"
    "Контест CQ WW DX|Контест WAE|Полевой день|Мобильная станция, трасса М4|"
    "Экспедиция на остров|Работал из отпуска|Слышимость плохая, QSB|Сильные помехи от соседа|"
    "Прохождение через Es|Аврора, звук хриплый|Через спутник|Антенна: диполь|Антенна: GP|"
    "Антенна: 3-эл. Яги|Трансивер IC-7300|Трансивер FT-991|Трансивер TS-590|"
    "Самодельный трансивер|Мощность 5 Вт, QRP|Первая связь с этой страной!|"
    "Новая область для диплома|Знакомый по клубу|Договорились о скеде на 40 м|"
    "Обещал выслать карточку|Передавал привет от RK3AWL|Диплом Р-150-С|Диплом WAZ|"
    "Повторная связь|Просил QSL только direct, SASE|Вызывал долго, pile-up|"
    "Работал через репитер R7|Сменил QTH, теперь за городом|Юбилейный позывной";

const char* kCallSuffixes = "/P|/M|/QRP|/MM|/A|/1|/3|/6|/9|/0";

struct Weighted {
    std::vector<int> cumulative;
    int total = 0;
    void add(int w) {
        total += w;
        cumulative.push_back(total);
    }
    int pick(Rng& rng) const {
        const int r = int(rng.below(uint32_t(total)));
        return int(std::upper_bound(cumulative.begin(), cumulative.end(), r) - cumulative.begin());
    }
};

// Skewed towards the start of a list: the big cities and common names come
// first and come up most often.
int skewed(Rng& rng, int n) {
    const double u = rng.unit();
    return std::min(n - 1, int(u * u * n));
}

QString capitalized(const QString& s) {
    return s.isEmpty() ? s : s.left(1).toUpper() + s.mid(1);
}

// A few thousand distinct towns: the real ones first, then made-up
// Russian-sounding ones.
QStringList russianTowns(Rng& rng, int count) {
    QStringList towns = split(kRussianCities);
    QSet<QString> seen(towns.begin(), towns.end());
    const QStringList pre = split(kTownPrefixes), roots = split(kTownRoots),
                      ends = split(kTownEndings);
    int guard = 0;
    while (towns.size() < count && guard++ < count * 50) {
        QString name;
        const QString core = roots[int(rng.below(uint32_t(roots.size())))] +
                             ends[int(rng.below(uint32_t(ends.size())))];
        const int form = int(rng.below(10));
        if (form < 4) {
            name = capitalized(core);
        } else if (form < 8) {
            name = pre[int(rng.below(uint32_t(pre.size())))] + core;
        } else if (form < 9) {
            name = QStringLiteral("Усть-") + capitalized(core);
        } else {
            static const char* adj[] = {"Большое ", "Малое ", "Верхнее ", "Нижнее ", "Новое "};
            name = QString::fromUtf8(adj[rng.below(5)]) + capitalized(core);
        }
        if (seen.contains(name)) continue;
        seen.insert(name);
        towns << name;
    }
    return towns;
}

struct AreaRt {
    QString country;
    QStringList prefixes;
    QString digits;
    int sufMin, sufMax;
    bool foreign;
};

const std::vector<AreaRt>& areas() {
    static const std::vector<AreaRt> v = [] {
        std::vector<AreaRt> r;
        for (const Area& a : kAreas)
            r.push_back(
                {QString::fromUtf8(a.country),
                 QString::fromLatin1(a.prefixes).split(QLatin1Char(' '), Qt::SkipEmptyParts),
                 QString::fromLatin1(a.digits), a.sufMin, a.sufMax, a.foreign});
        return r;
    }();
    return v;
}

const Weighted& areaWeights() {
    static const Weighted w = [] {
        Weighted r;
        for (const Area& a : kAreas)
            r.add(a.weight);
        return r;
    }();
    return w;
}

QString callSignIn(Rng& rng, const AreaRt& a) {
    QString call = a.prefixes[int(rng.below(uint32_t(a.prefixes.size())))];
    const int hash = int(call.indexOf(QLatin1Char('#')));
    if (hash >= 0) {
        const QString digits = a.digits.isEmpty() ? QStringLiteral("0123456789") : a.digits;
        call[hash] = digits[int(rng.below(uint32_t(digits.size())))];
    }
    // suffix: mostly three letters, some two, a few one
    int len = a.sufMax;
    const double u = rng.unit();
    if (u < 0.35)
        len = std::max(a.sufMin, a.sufMax - 1);
    else if (u < 0.40)
        len = a.sufMin;
    for (int i = 0; i < len; ++i)
        call += QChar(char16_t(u'A' + rng.below(26)));
    return call;
}

qint64 msNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void syncFd(const QString& path, bool dir) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), dir ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

QString randomCallSign(Rng& rng) {
    return callSignIn(rng, areas()[size_t(areaWeights().pick(rng))]);
}

QStringList russianFirstNames() {
    QStringList l = split(kNames);
    l.removeDuplicates();
    return l;
}

QStringList countryNames() {
    QStringList l = split(kCountries);
    for (const AreaRt& a : areas())
        if (!l.contains(a.country)) l << a.country;
    l.removeDuplicates();
    return l;
}

QString benchRoot() {
    QString root = qEnvironmentVariable("QARDEL_BENCH_DIR");
    if (root.isEmpty()) root = QString::fromUtf8(QARDEL_BENCH_DEFAULT_DIR);
    root = QDir(root).absolutePath();
    if (!root.endsWith(QLatin1Char('/'))) root += QLatin1Char('/');
    QDir().mkpath(root);
    return root;
}

// ---------------------------------------------------------------- generator

GenCounts generateLog(const QString& dirIn, int qsos, uint64_t seed) {
    QString dir = QDir(dirIn).absolutePath();
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    QDir().mkpath(dir);

    Rng rng(seed);
    GenCounts counts;
    counts.qsos = qsos;
    QDateTime now(QDate(1995, 1, 1), QTime(8, 0), Qt::UTC);

    TDM dm;
    dm.DataDir = dir;
    dm.Clock = [&now] { return now; };
    dm.OpenTables();
    if (dm.dsMain->recordCount() != 0 || dm.dsCors->recordCount() != 0)
        throw DbError(QStringLiteral("The folder '%1' already holds a log").arg(dir));

    // Appends one row to a one-text list and returns its ID.
    auto addText = [](Table* t, const QString& field, const QString& text) {
        t->append();
        t->fieldByName(field).setAsString(text);
        t->post();
        return t->fieldByName(fld::ID).asInteger();
    };

    // modes
    QHash<QString, int> modeId;
    const QStringList modes = split(kModes);
    for (const QString& m : modes)
        modeId.insert(m, addText(dm.dsModes, QStringLiteral("Name"), m));
    counts.modes = int(modes.size());

    // bands with their default power and mode
    std::vector<int> bandId;
    Weighted bandWeights;
    for (const BandDef& b : kBands) {
        Table* t = dm.dsBands;
        t->append();
        t->fieldByName(fld::Begin).setAsFloat(b.begin);
        t->fieldByName(fld::End).setAsFloat(b.end);
        t->fieldByName(fld::Name).setAsString(QString::fromUtf8(b.name));
        t->fieldByName(fld::DefPower).setAsFloat(b.power);
        t->fieldByName(fld::DefModeID).setAsInteger(modeId.value(QString::fromLatin1(b.mode)));
        t->post();
        bandId.push_back(t->fieldByName(fld::ID).asInteger());
        bandWeights.add(b.weight);
    }
    counts.bands = kBandCount;

    // reports
    auto addReports = [&](const char* list) {
        std::vector<int> ids;
        for (const QString& r : split(list))
            ids.push_back(addText(dm.dsRS, QStringLiteral("Value"), r));
        counts.reports += int(ids.size());
        return ids;
    };
    const std::vector<int> rsPhone = addReports(kReportsPhone);
    const std::vector<int> rsCw = addReports(kReportsCw);
    const std::vector<int> rsDigital = addReports(kReportsDigital);

    // countries
    QHash<QString, int> countryId;
    const QStringList countries = countryNames();
    for (const QString& c : countries)
        countryId.insert(c, addText(dm.dsCountryes, QStringLiteral("Name"), c));
    counts.countries = int(countries.size());

    // first names
    const QStringList names = russianFirstNames();
    std::vector<int> nameIds;
    for (const QString& n : names)
        nameIds.push_back(addText(dm.dsNames, QStringLiteral("Value"), n));
    counts.names = int(names.size());

    // cities: Russian-style towns for the former USSR, the foreign list for
    // the rest
    const QStringList towns = russianTowns(rng, 3000);
    const QStringList foreignCities = split(kForeignCities);
    std::vector<int> townIds, foreignIds;
    for (const QString& c : towns)
        townIds.push_back(addText(dm.dsCityes, QStringLiteral("Name"), c));
    for (const QString& c : foreignCities)
        foreignIds.push_back(addText(dm.dsCityes, QStringLiteral("Name"), c));
    counts.cities = int(towns.size() + foreignCities.size());

    // correspondents come into the log with their first QSO
    struct Cor {
        int id;
        QString city, country; // as copied into the QSO
    };
    std::vector<Cor> cors;
    const int corCount = std::max(1, qsos / 5);
    cors.reserve(size_t(corCount));
    QSet<QString> calls;
    calls.reserve(corCount);

    Table* c = dm.dsCors;
    Field& cCall = c->fieldByName(fld::CallName);
    Field& cName = c->fieldByName(fld::NameID);
    Field& cCountry = c->fieldByName(fld::CountryID);
    Field& cCity = c->fieldByName(fld::CityID);
    Field& cId = c->fieldByName(fld::ID);

    auto newCor = [&]() -> const Cor& {
        const AreaRt* area = nullptr;
        QString call;
        do {
            area = &areas()[size_t(areaWeights().pick(rng))];
            call = callSignIn(rng, *area);
        } while (calls.contains(call));
        calls.insert(call);
        Cor cor;
        c->append();
        cCall.setAsString(call);
        if (rng.chance(0.88)) cName.setAsInteger(nameIds[size_t(skewed(rng, int(nameIds.size())))]);
        cCountry.setAsInteger(countryId.value(area->country));
        cor.country = cutText(area->country, 25);
        if (rng.chance(0.8)) {
            if (area->foreign) {
                const int k = skewed(rng, int(foreignIds.size()));
                cCity.setAsInteger(foreignIds[size_t(k)]);
                cor.city = cutText(foreignCities[k], 25);
            } else {
                const int k = skewed(rng, int(townIds.size()));
                cCity.setAsInteger(townIds[size_t(k)]);
                cor.city = cutText(towns[k], 25);
            }
        }
        c->post();
        cor.id = cId.asInteger();
        cors.push_back(std::move(cor));
        return cors.back();
    };

    // the log
    Table* m = dm.dsMain;
    Field& mCorID = m->fieldByName(fld::CorID);
    Field& mBandID = m->fieldByName(fld::BandID);
    Field& mModeID = m->fieldByName(fld::ModeID);
    Field& mCorPower = m->fieldByName(fld::CorPower);
    Field& mMyPower = m->fieldByName(fld::MyPower);
    Field& mCorRSID = m->fieldByName(fld::CorRSID);
    Field& mMyRSID = m->fieldByName(fld::MyRSID);
    Field& mNotice = m->fieldByName(fld::Notice);
    Field& mCorSuffix = m->fieldByName(fld::CorSuffix);
    Field& mQSL = m->fieldByName(fld::QSL);
    Field& mRepeater = m->fieldByName(fld::Repeater);
    Field& mCorCountry = m->fieldByName(fld::CorCountry);
    Field& mCorCity = m->fieldByName(fld::CorCity);

    const QStringList phrases = split(kNoticePhrases);
    const QStringList suffixes = split(kCallSuffixes);
    Weighted modeWeights; // when the band's default mode is not used
    for (int w : {30, 35, 8, 2, 4, 5, 14, 2})
        modeWeights.add(w);
    static const double corPowers[] = {5, 10, 50, 100, 200, 400, 1000};
    static const double myPowers[] = {5, 10, 50, 100, 200};

    const qint64 started = msNow();
    for (int i = 0; i < qsos; ++i) {
        // times: mostly a QSO every few minutes, breaks now and then, and
        // an evening or a week off the air
        const double g = rng.unit();
        qint64 gapSec;
        if (g < 0.88)
            gapSec = rng.between(20, 240);
        else if (g < 0.995)
            gapSec = rng.between(300, 3600);
        else
            gapSec = rng.between(6 * 3600, 48 * 3600);
        now = now.addSecs(gapSec);

        // each correspondent joins with a first QSO; the rest go to regulars,
        // to recent acquaintances, or to anyone met before
        const Cor* cor;
        const int remaining = qsos - i;
        const int corsLeft = corCount - int(cors.size());
        if (cors.empty() || int(rng.below(uint32_t(remaining))) < corsLeft) {
            cor = &newCor();
        } else {
            const int n = int(cors.size());
            const double u = rng.unit();
            int k;
            if (u < 0.3)
                k = int(rng.below(uint32_t(std::max(1, n / 50))));
            else if (u < 0.5)
                k = n - 1 - int(rng.below(uint32_t(std::min(n, 200))));
            else
                k = int(rng.below(uint32_t(n)));
            cor = &cors[size_t(k)];
        }

        const int b = bandWeights.pick(rng);
        QString mode = QString::fromLatin1(kBands[b].mode);
        if (!rng.chance(0.6)) mode = modes[modeWeights.pick(rng)];
        const std::vector<int>& reports =
            (mode == QLatin1String("CW") || mode == QLatin1String("RTTY") ||
             mode == QLatin1String("PSK31"))
                ? rsCw
                : (mode == QLatin1String("FT8") ? rsDigital : rsPhone);

        m->append(); // stamps Time from the clock
        mCorID.setAsInteger(cor->id);
        mBandID.setAsInteger(bandId[size_t(b)]);
        mModeID.setAsInteger(modeId.value(mode));
        if (rng.chance(0.3)) mCorPower.setAsFloat(corPowers[rng.below(7)]);
        mMyPower.setAsFloat(rng.chance(0.8) ? kBands[b].power : myPowers[rng.below(5)]);
        if (rng.chance(0.92))
            mCorRSID.setAsInteger(reports[size_t(skewed(rng, int(reports.size())))]);
        if (rng.chance(0.92))
            mMyRSID.setAsInteger(reports[size_t(skewed(rng, int(reports.size())))]);
        if (rng.chance(1.0 / 3)) {
            QString notice = phrases[int(rng.below(uint32_t(phrases.size())))];
            if (rng.chance(0.25)) {
                const int lines = rng.between(2, 4);
                for (int l = 1; l < lines; ++l)
                    notice += QLatin1Char('\n') + phrases[int(rng.below(uint32_t(phrases.size())))];
            }
            mNotice.setAsString(notice);
            ++counts.notices;
        }
        if (rng.chance(0.04))
            mCorSuffix.setAsString(suffixes[int(rng.below(uint32_t(suffixes.size())))]);
        mQSL.setAsBoolean(rng.chance(0.4));
        mRepeater.setAsBoolean(mode == QLatin1String("FM") && b >= kBandCount - 2 &&
                               rng.chance(0.5));
        if (!cor->country.isEmpty()) mCorCountry.setAsString(cor->country);
        if (!cor->city.isEmpty()) mCorCity.setAsString(cor->city);
        m->post();

        if (qsos >= 200000 && (i + 1) % 200000 == 0)
            std::fprintf(stderr, "  %d QSOs posted (%.1f s)\n", i + 1,
                         double(msNow() - started) / 1000.0);
    }
    counts.correspondents = int(cors.size());

    const qint64 saveStart = msNow();
    dm.SaveAll();
    if (qsos >= 100000)
        std::fprintf(stderr, "  posted in %.1f s, SaveAll %.1f s\n",
                     double(saveStart - started) / 1000.0, double(msNow() - saveStart) / 1000.0);
    return counts;
}

// What a cached log depends on besides the generator: the file format and
// the tables' stored fields with their declared types. A change to any of
// them makes the old files unreadable, so it makes a new cache folder.
static QString fileFormatFingerprint() {
    QByteArray text = "format " + QByteArray::number(TableFile::kFormatVersion) + "\n";
    LogTables tables = createLogTables();
    for (Table* t : {tables.main.get(), tables.cors.get(), tables.bands.get(), tables.modes.get(),
                     tables.rs.get(), tables.countryes.get(), tables.cityes.get(),
                     tables.names.get(), tables.ini.get()}) {
        text += t->name().toUtf8() + ":";
        for (int i = 0; i < t->fieldCount(); ++i)
            if (t->fieldDefs()[size_t(i)].isStored())
                text += " " + t->fieldDefs()[size_t(i)].name.toUtf8() + " " +
                        TableFile::declaredType(*t, i).toUtf8() + ",";
        text += "\n";
    }
    return QString::fromLatin1(
        QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex().left(8));
}

QString ensureLog(int qsos) {
    const QString root = benchRoot();
    const QString dir = root + QStringLiteral("log-%1-g%2-%3/")
                                   .arg(qsos)
                                   .arg(kGeneratorVersion)
                                   .arg(fileFormatFingerprint());
    const QString marker = dir + QStringLiteral("generated.ok");
    if (QFileInfo::exists(marker)) return dir;

    // logs of an older generator are of no further use
    for (const QString& old :
         QDir(root).entryList({QStringLiteral("log-%1-g*").arg(qsos)}, QDir::Dirs))
        QDir(root + old).removeRecursively();
    const QString tmp = root + QStringLiteral(".generating-%1").arg(qsos);
    QDir(tmp).removeRecursively();
    std::fprintf(stderr, "Generating a log of %d QSOs in %s ...\n", qsos, qPrintable(dir));
    const qint64 t0 = msNow();
    const GenCounts c = generateLog(tmp, qsos);
    {
        QFile f(tmp + QStringLiteral("/generated.ok"));
        if (!f.open(QIODevice::WriteOnly))
            throw DbError(QStringLiteral("Cannot write '%1'").arg(f.fileName()));
        f.write(QStringLiteral("qsos=%1\ncorrespondents=%2\nnames=%3\ncities=%4\ncountries=%5\n"
                               "reports=%6\nbands=%7\nmodes=%8\nnotices=%9\n")
                    .arg(c.qsos)
                    .arg(c.correspondents)
                    .arg(c.names)
                    .arg(c.cities)
                    .arg(c.countries)
                    .arg(c.reports)
                    .arg(c.bands)
                    .arg(c.modes)
                    .arg(c.notices)
                    .toUtf8());
    }
    if (!QDir().rename(tmp, dir.chopped(1)))
        throw DbError(QStringLiteral("Cannot rename '%1' to '%2'").arg(tmp, dir));
    syncFd(root, true);
    std::fprintf(stderr, "Generated %d QSOs, %d correspondents in %.1f s\n", c.qsos,
                 c.correspondents, double(msNow() - t0) / 1000.0);
    return dir;
}

QString copyLog(const QString& fromIn, const QString& toIn) {
    QString from = QDir(fromIn).absolutePath() + QLatin1Char('/');
    QString to = QDir(toIn).absolutePath() + QLatin1Char('/');
    QDir(to).removeRecursively();
    QDir().mkpath(to);
    const QStringList files = QDir(from).entryList({QStringLiteral("*.db")}, QDir::Files);
    for (const QString& f : files) {
        if (!QFile::copy(from + f, to + f))
            throw DbError(QStringLiteral("Cannot copy '%1' to '%2'").arg(from + f, to));
        syncFd(to + f, false);
    }
    syncFd(to, true);
    return to;
}

} // namespace qardel::bench
