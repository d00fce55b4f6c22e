<?php
// 在文章末尾追加一行来源说明。参数一：来源名称。
$text = '[DB:$$]';
$source = '[自定义参数一]';
echo $text . '<p>来源：' . $source . '</p>';
?>
